#!/usr/bin/env bash
# What the product did not install is never deleted:
# - an install with /dir= into a folder that holds the user's files, then an
#   update and an uninstall: the user's files survive byte for byte, the
#   product's files and the folders the install made are gone;
# - an old uninstall.exe copied to another folder and run there leaves the
#   real installation whole;
# - a setup file cut inside its package, beside the user's files in a
#   download folder, started with /S /update, with /S and in the window
#   (the main button pressed): every file survives, the real installation
#   keeps its entry and shortcut, the exit code is 1.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
. "$(dirname "$0")/lib/window.bash"
require_throwaway_prefix
require_setup

C="$WINEPREFIX/drive_c"
# --- a folder of the user's ----------------------------------------------------
USER_DIR='C:\Mes outils'
U="$C/Mes outils"
rm -rf "$U" && mkdir -p "$U/ui" "$U/notes/été"
printf 'à moi' >"$U/LISEZMOI.txt.bak"
printf 'mes styles' >"$U/ui/mien.css"
printf '日本' >"$U/notes/été/日本.txt"
: >"$U/notes/vide.txt"
user_files() { (cd "$U" && for f in LISEZMOI.txt.bak ui/mien.css "notes/été/日本.txt" notes/vide.txt; do md5sum "$f"; done); }
before="$(user_files)"

run_setup "/S /dir=\"$USER_DIR\"" || fail "install into the user's folder"
check "install record written" [ -f "$U/install-record.txt" ]
check "record says the folder was the user's" grep -q '^folder created: no' "$U/install-record.txt"
check "record names the product's files" grep -q '^file: ui\\icons\\dot.svg' "$U/install-record.txt"
check "record names the folders the install made" grep -q '^folder: ui\\icons' "$U/install-record.txt"
check "record does not claim the user's folders" bash -c '! grep -q "^folder: ui\s*$\|notes" "$0"' "$U/install-record.txt"
run_setup "/S /update /dir=\"$USER_DIR\"" || fail "update in the user's folder"
run_setup "/S /uninstall /dir=\"$USER_DIR\" /log=C:\\uninstall-user.log" || fail "uninstall of the user's folder"
check "the user's files survive byte for byte" [ "$(user_files)" = "$before" ]
check "the product's files are gone" bash -c '[ ! -e "$0/Norvale-Lockra.exe" ] && [ ! -e "$0/ui/index.html" ] && [ ! -e "$0/uninstall.exe" ] && [ ! -e "$0/install-record.txt" ]' "$U"
check "the folders the install made are gone" [ ! -e "$U/ui/icons" ]
left=$(find "$U" -type f | wc -l)
check "only the user's files are left" [ "$left" -eq 4 ]
[ "$left" -eq 4 ] || { (cd "$U" && find . -type f); cat "$C/uninstall-user.log"; }
rm -rf "$U"

# --- the real installation, default folder -------------------------------------
run_setup "/S" || fail "default install"
REAL="$(unix_path "$(known localappdata)\\Programs\\Norvale Lockra")"
START_LNK="$(unix_path "$(known programs)\\Norvale Lockra.lnk")"
real_whole() { [ -f "$REAL/Norvale-Lockra.exe" ] && [ -f "$REAL/install-record.txt" ] && reg_key_exists "$UNINSTALL_KEY" && [ -f "$START_LNK" ]; }
check "default install in place" real_whole
check "its record says the install made the folder" grep -q '^folder created: yes' "$REAL/install-record.txt"

# --- an old uninstaller copied elsewhere -----------------------------------------
mkdir -p "$C/Ailleurs"
cp "$REAL/uninstall.exe" "$C/Ailleurs/uninstall.exe"
printf 'garder' >"$C/Ailleurs/garder.txt"
run_line '"C:\Ailleurs\uninstall.exe" /S'
rc=$?
check "an uninstaller copied elsewhere exits with 1 (got $rc)" [ "$rc" -eq 1 ]
check "the folder it lies in is untouched" [ -f "$C/Ailleurs/garder.txt" ] && [ -f "$C/Ailleurs/uninstall.exe" ]
check "the real installation is untouched" real_whole
rm -rf "$C/Ailleurs"

# --- a setup file cut inside its package -----------------------------------------
DL="$C/Téléchargements"
rm -rf "$DL" && mkdir -p "$DL/photos"
printf 'facture' >"$DL/facture.pdf"
printf 'jpg' >"$DL/photos/été.jpg"
/usr/bin/python3 - "$SETUP" "$DL/Norvale-Lockra-Setup.exe" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
assert data[-8:] == b'HLVXPAK1', 'the setup file must be unsigned here'
p, length = struct.unpack('<QQ', data[-24:-8])
open(sys.argv[2], 'wb').write(data[:p + length // 2])  # the download stopped half-way
PY
dl_files() { (cd "$DL" && find . -type f -print0 | sort -z | xargs -0 md5sum); }
dl_before="$(dl_files)"
for switches in '/S /update' '/S'; do
  run_line "\"C:\\Téléchargements\\Norvale-Lockra-Setup.exe\" $switches"
  rc=$?
  check "cut setup file with $switches exits with 1 (got $rc)" [ "$rc" -eq 1 ]
  check "cut setup file with $switches: every file of the download folder survives" [ "$(dl_files)" = "$dl_before" ]
  check "cut setup file with $switches: the real installation keeps entry and shortcut" real_whole
done
if [ -n "${DISPLAY:-}" ]; then
  "$WINE64" 'C:\Téléchargements\Norvale-Lockra-Setup.exe' &
  pid=$!
  wid="$(find_window 'Norvale Lockra')"
  if [ -n "$wid" ]; then
    sleep 1
    xdotool windowfocus "$wid" 2>/dev/null; sleep 0.2
    xdotool key Return; sleep 3   # the main button: "Réessayer" on the Error screen
    check "window: still open on the Error screen after the main button" bash -c "xdotool search --onlyvisible --name 'Norvale Lockra' >/dev/null"
    xdotool windowfocus "$wid" 2>/dev/null; sleep 0.2
    xdotool key Escape
  else
    fail "window: no window for the cut setup file"
  fi
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  kill "$pid" 2>/dev/null
  wait "$pid"
  rc=$?
  check "window: closed on the Error screen with 1 (got $rc)" [ "$rc" -eq 1 ]
  check "window: every file of the download folder survives" [ "$(dl_files)" = "$dl_before" ]
  check "window: the real installation keeps entry and shortcut" real_whole
else
  fail "no display for the window case"
fi
rm -rf "$DL"

REAL_WIN="$(known localappdata)\\Programs\\Norvale Lockra"
run_line "\"$REAL_WIN\\uninstall.exe\" /S" || fail "uninstall of the real installation"
for _ in $(seq 1 100); do [ -e "$REAL" ] || break; sleep 0.3; done
check "the default uninstall leaves nothing" [ ! -e "$REAL" ]
finish
