#!/usr/bin/env bash
# The uninstaller pointed at folders that hold far more than the product
# (the user profile, a drive root, the local application data). Without the
# product there it changes nothing and exits with 1; even holding the
# product's executable and registered as its folder, it leaves them whole,
# does everything else and exits with 0. Inside the throwaway prefix only:
# never a Z: path.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup

DIR='C:\Norvale Garde\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Garde/Norvale Lockra"
rm -rf "$WINEPREFIX/drive_c/Norvale Garde"
PROFILE="$(known profile)"
LOCAL="$(known localappdata)"
for target in "$PROFILE" 'C:\' "$LOCAL"; do
  case "$target" in [Cc]:\\*) ;; *) echo "FAIL: unexpected folder $target"; exit 1 ;; esac
done
entry_exists() { reg_key_exists "$UNINSTALL_KEY"; }

for target in "$PROFILE" 'C:\' "$LOCAL"; do
  run_setup "/S /dir=\"$DIR\"" || { echo "FAIL: install"; exit 1; }
  utarget="$(unix_path "$target")"
  echo reste >"$utarget/témoin-garde.txt"
  before="$(find "$utarget" -maxdepth 2 | wc -l)"
  run_line "\"$DIR\\uninstall.exe\" /S /uninstall /dir=\"$target\""
  rc=$?
  check "uninstall /dir=$target without the product exits with 1 (got $rc)" [ "$rc" -eq 1 ]
  check "$target left whole" [ "$(find "$utarget" -maxdepth 2 | wc -l)" -eq "$before" ]
  check "the installation elsewhere keeps its entry" entry_exists

  cp "$NORVALE_OUT/product/Norvale-Lockra.exe" "$utarget/"
  "$WINE64" reg add "HKCU\\$UNINSTALL_KEY" /v InstallLocation /d "${target%\\}" /f >/dev/null 2>&1
  before="$(find "$utarget" -maxdepth 2 | wc -l)"
  run_line "\"$DIR\\uninstall.exe\" /S /uninstall /dir=\"$target\""
  rc=$?
  check "uninstall /dir=$target registered there exits with 0 (got $rc)" [ "$rc" -eq 0 ]
  check "$target left whole" [ -f "$utarget/témoin-garde.txt" ] && [ "$(find "$utarget" -maxdepth 2 | wc -l)" -eq "$before" ]
  check "the product folder elsewhere untouched" [ -f "$UDIR/uninstall.exe" ]
  check "everything else done: uninstall entry gone" bash -c '! "$0" reg query "HKCU\\$1" >/dev/null 2>&1' "$WINE64" "$UNINSTALL_KEY"
  rm -f "$utarget/témoin-garde.txt" "$utarget/Norvale-Lockra.exe"
done
run_setup "/S /uninstall /dir=\"$DIR\""
check "cleaned up" [ ! -e "$UDIR" ]
finish
