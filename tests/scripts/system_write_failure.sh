#!/usr/bin/env bash
# When uninstall.exe cannot be written, the install fails (exit code 1),
# writes no uninstall entry and no shortcut, and takes the files it had
# extracted away again: the folder holds only what was there before.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup

DIR='C:\Norvale Echec\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Echec/Norvale Lockra"
rm -rf "$WINEPREFIX/drive_c/Norvale Echec"
"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
START_LNK="$(unix_path "$(known programs)\\Norvale Lockra.lnk")"
rm -f "$START_LNK"
# A folder where uninstall.exe should go: no file can be created there.
mkdir -p "$UDIR/uninstall.exe" && echo x >"$UDIR/uninstall.exe/occupé.txt"

run_setup "/S /dir=\"$DIR\""
rc=$?
check "install exits with 1 (got $rc)" [ "$rc" -eq 1 ]
check "no uninstall entry written" bash -c "! \"\$0\" reg query 'HKCU\\$UNINSTALL_KEY' >/dev/null 2>&1" "$WINE64"
check "no Start-menu shortcut written" [ ! -e "$START_LNK" ]
check "the files extracted before the failure are gone again" [ ! -e "$UDIR/Norvale-Lockra.exe" ]
check "what was there before stays" [ "$(cd "$UDIR" && find . | sort | tr '\n' ' ')" = ". ./uninstall.exe ./uninstall.exe/occupé.txt " ]
rm -rf "$WINEPREFIX/drive_c/Norvale Echec"
finish
