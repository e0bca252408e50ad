#!/usr/bin/env bash
# Uninstall cases with the user's files beside the product's:
# - the default folder holding a file and a folder of the user's, a file of
#   theirs in a folder the install made, links to files and folders
#   elsewhere, and a product file replaced by a link: the quiet uninstall
#   command's first process ends with 0 only once the uninstall is done; the
#   user's files and every link's target survive;
# - a folder of the user's registered by an older version, installed over
#   without /dir=: the uninstall keeps the user's document;
# - the data folder as a link, removed from the window: its target survives;
# - an update stopped while the old ui folder cannot be renamed, then a run
#   that fails the same way: the installed ui files are all still there;
# - a setup file started with /uninstall from a download folder uninstalls
#   the registered installation (or, with none, changes nothing: exit 1);
# - awkward /dir= spellings are registered in one canonical form, and the
#   registered uninstall command removes entry, shortcut and folder;
# - a folder too long for the product's paths is refused before anything
#   changes.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
. "$(dirname "$0")/lib/window.bash"
require_throwaway_prefix
require_setup

C="$WINEPREFIX/drive_c"
REAL_WIN="$(known localappdata)\\Programs\\Norvale Lockra"
REAL="$(unix_path "$REAL_WIN")"
START_LNK="$(unix_path "$(known programs)\\Norvale Lockra.lnk")"
ELSE="$C/Ailleurs"
quiet_uninstall() { run_line "$(reg_value "$UNINSTALL_KEY" QuietUninstallString | cut -f3) $*"; }

# --- default folder: the user's files and links ----------------------------------
run_setup "/S" || fail "default install"
rm -rf "$ELSE" && mkdir -p "$ELSE/vide" "$ELSE/plein"
printf cible >"$ELSE/cible.txt"
printf p >"$ELSE/plein/p.txt"
printf exe >"$ELSE/autre.exe"
printf 'à moi' >"$REAL/mes notes.txt"
mkdir -p "$REAL/mes documents" && printf x >"$REAL/mes documents/a.txt"
printf css >"$REAL/ui/mien.css"
ln -s "$ELSE/cible.txt" "$REAL/lien-fichier.txt"
ln -s "$ELSE/vide" "$REAL/lien-vide"
ln -s "$ELSE/plein" "$REAL/ui/lien-plein"
rm "$REAL/LISEZMOI.txt" && ln -s "$ELSE/autre.exe" "$REAL/LISEZMOI.txt"
rm -f "$C/cas.log"
quiet_uninstall '/log=C:\cas.log'
rc=$?
check "the first process of the quiet uninstall exits with 0 (got $rc)" [ "$rc" -eq 0 ]
check "it exited with its copy's verdict" grep -q 'the relocated copy reports: uninstalled' "$C/cas.log"
check "when it ends, the entry is gone" bash -c '! "$0" reg query "HKCU\\$1" >/dev/null 2>&1' "$WINE64" "$UNINSTALL_KEY"
check "when it ends, the product's files are gone" bash -c '[ ! -e "$0/Norvale-Lockra.exe" ] && [ ! -e "$0/ui/index.html" ] && [ ! -e "$0/install-record.txt" ]' "$REAL"
for _ in $(seq 1 50); do [ -e "$REAL/uninstall.exe" ] || break; sleep 0.2; done
check "then uninstall.exe goes too" [ ! -e "$REAL/uninstall.exe" ]
check "the user's files stay" bash -c '[ "$(cat "$0/mes notes.txt")" = "à moi" ] && [ -f "$0/mes documents/a.txt" ] && [ -f "$0/ui/mien.css" ]' "$REAL"
check "every link's target stays" bash -c '[ "$(cat "$0/cible.txt")" = cible ] && [ -d "$0/vide" ] && [ -f "$0/plein/p.txt" ] && [ "$(cat "$0/autre.exe")" = exe ]' "$ELSE"
rm -rf "$REAL"

# --- a folder of the user's that an older version registered ------------------------
OLD="$C/Mes programmes"
rm -rf "$OLD" && mkdir -p "$OLD" && cp "$NORVALE_OUT/product/Norvale-Lockra.exe" "$OLD/" && printf doc >"$OLD/mon document.txt"
"$WINE64" reg add "HKCU\\$UNINSTALL_KEY" /v InstallLocation /d 'C:\Mes programmes' /f >/dev/null 2>&1
run_setup "/S" || fail "install into the registered folder"
check "the install does not take that folder as its own" grep -q '^folder created: no' "$OLD/install-record.txt"
quiet_uninstall
for _ in $(seq 1 50); do [ -e "$OLD/uninstall.exe" ] || break; sleep 0.2; done
check "its uninstall keeps the user's document" [ "$(cat "$OLD/mon document.txt" 2>/dev/null)" = doc ]
check "and removes the product" [ ! -e "$OLD/Norvale-Lockra.exe" ]
rm -rf "$OLD"

# --- the data folder as a link, removed from the window -----------------------------
DATA="$(unix_path "$(known localappdata)\\Norvale\\Lockra")"
run_setup "/S" || fail "install for the window uninstall"
mkdir -p "$(dirname "$DATA")" && rm -rf "$DATA" && ln -s "$ELSE/plein" "$DATA"
if [ -n "${DISPLAY:-}" ]; then
  "$WINE64" "$REAL_WIN\\uninstall.exe" &
  pid=$!
  wid="$(find_window 'Norvale Lockra — Désinstallation')"
  if [ -n "$wid" ]; then
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    at() { xdotool mousemove "$((X + $1 * WIDTH / 780))" "$((Y + $2 * HEIGHT / 470))"; sleep 0.15; xdotool click 1; sleep 0.4; }
    sleep 0.5
    at 360 173   # "Supprimer aussi mes données (favoris, réglages…)"
    at 375 409   # the main button
    for _ in $(seq 1 100); do [ -e "$REAL/Norvale-Lockra.exe" ] || break; sleep 0.2; done
    sleep 1
    xdotool windowfocus "$wid" 2>/dev/null; xdotool key Escape
  else
    fail "no uninstall window"
  fi
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  kill "$pid" 2>/dev/null; wait "$pid"
  check "window uninstall: the product is gone" [ ! -e "$REAL/Norvale-Lockra.exe" ]
  check "window uninstall: the data link's target stays" [ -f "$ELSE/plein/p.txt" ]
else
  fail "no display for the data-folder case"
fi
rm -f "$DATA"; rm -rf "$REAL"
"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1

# --- an update stopped while the old ui folder cannot be renamed --------------------
run_setup "/S" || fail "install before the stopped update"
ui_sums() { (cd "$REAL/ui" && find . -type f | sort | xargs md5sum); }
ui_before="$(ui_sums)"
if mount --bind "$REAL/ui" "$REAL/ui" 2>/dev/null; then
  run_setup "/S /update" &
  for _ in $(seq 1 50); do [ -f "$REAL/.norvale-rollback/journal.txt" ] && break; sleep 0.1; done
  sleep 1   # the rename of ui is being retried
  "$WINE64" taskkill /F /IM "$(basename "$SETUP")" >/dev/null 2>&1
  wait
  check "the update was stopped with its journal in place" [ -f "$REAL/.norvale-rollback/journal.txt" ]
  run_setup "/S /update"
  rc=$?
  umount "$REAL/ui"
  check "the next update, unable to move ui either, exits with 1 (got $rc)" [ "$rc" -eq 1 ]
  check "the installed ui files are all still there" [ "$(ui_sums)" = "$ui_before" ]
else
  fail "mount --bind is not available (needed for a folder that cannot be renamed)"
fi
run_setup "/S /update" || fail "update after the folder is free again"
check "the update then goes through" [ "$(ui_sums)" = "$ui_before" ]

# --- /uninstall from a download folder ---------------------------------------------
DL="$C/Téléchargements"
rm -rf "$DL" && mkdir -p "$DL" && cp "$SETUP" "$DL/Norvale-Lockra-Setup.exe" && printf f >"$DL/facture.pdf"
run_line '"C:\Téléchargements\Norvale-Lockra-Setup.exe" /uninstall /S'
rc=$?
check "/uninstall from the download folder exits with 0 (got $rc)" [ "$rc" -eq 0 ]
for _ in $(seq 1 50); do [ -e "$REAL" ] || break; sleep 0.2; done
check "it uninstalled the registered installation" bash -c '[ ! -e "$0" ] && [ ! -e "$1" ]' "$REAL" "$START_LNK"
check "the download folder is untouched" bash -c '[ -f "$0/facture.pdf" ] && [ -f "$0/Norvale-Lockra-Setup.exe" ]' "$DL"
run_line '"C:\Téléchargements\Norvale-Lockra-Setup.exe" /uninstall /S'
rc=$?
check "/uninstall with nothing installed exits with 1 (got $rc)" [ "$rc" -eq 1 ]
rm -rf "$DL"

# --- awkward /dir= spellings -------------------------------------------------------
CANON='C:\Norvale Formes\Lockra'
for form in 'C:/Norvale Formes/Lockra' 'C:\Norvale Formes\\Lockra' 'C:\Norvale Formes\x\..\Lockra' 'C:\Norvale Formes\Lockra.' 'C:\Norvale Formes\.\Lockra'; do
  rm -rf "$C/Norvale Formes"
  run_setup "/S /dir=\"$form\"" || fail "install with /dir=$form"
  location="$(reg_value "$UNINSTALL_KEY" InstallLocation | cut -f3)"
  check "/dir=$form registered as $CANON (got $location)" [ "$location" = "$CANON" ]
  quiet_uninstall
  for _ in $(seq 1 50); do [ -e "$C/Norvale Formes/Lockra" ] || break; sleep 0.2; done
  check "/dir=$form: the uninstall removes entry, shortcut and folder" bash -c '[ ! -e "$0" ] && [ ! -e "$1" ] && ! "$2" reg query "HKCU\\$3" >/dev/null 2>&1' "$C/Norvale Formes/Lockra" "$START_LNK" "$WINE64" "$UNINSTALL_KEY"
done
rm -rf "$C/Norvale Formes"

# --- a folder too long for the product's paths --------------------------------------
LONG='C:\Norvale Long'
for _ in $(seq 1 26); do LONG="$LONG\\dossier-$(printf '%010d' 0)"; done   # about 520 characters
run_setup "/S /dir=\"$LONG\""
rc=$?
check "an install into a ${#LONG}-character folder exits with 1 (got $rc)" [ "$rc" -eq 1 ]
check "and creates nothing" [ ! -e "$C/Norvale Long" ]
rm -rf "$C/Norvale Long"
finish
