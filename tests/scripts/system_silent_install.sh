#!/usr/bin/env bash
# A silent install into a folder with spaces: the files, uninstall.exe, the
# eleven registry values with their types, the Start-menu shortcut read back
# through the shell link, no Desktop shortcut, exit code 0; then a second
# install over it removes a stale ui folder and rewrites the entry.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup
standin_log_init

DIR='C:\Norvale Essai\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Essai/Norvale Lockra"
rm -rf "$WINEPREFIX/drive_c/Norvale Essai"

run_setup "/S /dir=\"$DIR\""
rc=$?
check "silent install exits with 0 (got $rc)" [ "$rc" -eq 0 ]
check "every packed file installed with its bytes" same_tree "$UDIR"
check "uninstall.exe written" [ -f "$UDIR/uninstall.exe" ]
check "uninstall.exe carries no package (smaller than the setup file)" \
  [ "$(stat -c %s "$UDIR/uninstall.exe")" -lt "$(stat -c %s "$SETUP")" ]
check "empty file installed empty" [ -f "$UDIR/ui/empty.dat" ] && [ ! -s "$UDIR/ui/empty.dat" ]

# Registry: type, stored size (terminator included) and data of each value.
expect_sz() {  # name text
  local want_size got
  want_size=$(( ($(printf '%s' "$2" | iconv -f UTF-8 -t UTF-16LE | wc -c) ) + 2 ))
  got="$(reg_value "$UNINSTALL_KEY" "$1")"
  check "$1 = REG_SZ \"$2\" ($want_size bytes)" [ "$got" = "$(printf 'REG_SZ\t%s\t%s' "$want_size" "$2")" ]
  [ "$got" = "$(printf 'REG_SZ\t%s\t%s' "$want_size" "$2")" ] || echo "  got: $got"
}
expect_dword() {
  local got
  got="$(reg_value "$UNINSTALL_KEY" "$1")"
  check "$1 = REG_DWORD $2" [ "$got" = "$(printf 'REG_DWORD\t4\t%s' "$2")" ]
  [ "$got" = "$(printf 'REG_DWORD\t4\t%s' "$2")" ] || echo "  got: $got"
}
VERSION="$(reg_value "$UNINSTALL_KEY" DisplayVersion | cut -f3)"
check "DisplayVersion is not empty ($VERSION)" [ -n "$VERSION" ]
check "exactly eleven values" [ "$(probe reg "$UNINSTALL_KEY" | wc -l)" -eq 11 ]
expect_sz DisplayName 'Norvale Lockra'
expect_sz DisplayVersion "$VERSION"
expect_sz Publisher 'Équipe Norvale'
expect_sz DisplayIcon "$DIR\\Norvale-Lockra.exe,0"
expect_sz InstallLocation "$DIR"
expect_sz URLInfoAbout 'https://norvale.app'
expect_sz UninstallString "\"$DIR\\uninstall.exe\" /uninstall"
expect_sz QuietUninstallString "\"$DIR\\uninstall.exe\" /uninstall /S"
expect_dword NoModify 1
expect_dword NoRepair 1
expect_dword EstimatedSize "$(( $(product_total_bytes) >> 10 ))"

# Shortcuts.
PROGRAMS="$(known programs)"
DESKTOP="$(known desktop)"
LNK="$(probe lnk "$PROGRAMS\\Norvale Lockra.lnk")"
echo "$LNK" | sed 's/^/  /'
check "Start-menu shortcut target" grep -qxF "target=$DIR\\Norvale-Lockra.exe" <<<"$LNK"
check "Start-menu shortcut working folder" grep -qxF "workdir=$DIR" <<<"$LNK"
check "Start-menu shortcut icon" grep -qxF "icon=$DIR\\Norvale-Lockra.exe,0" <<<"$LNK"
check "Start-menu shortcut description" grep -qxF "description=Coffre-fort de mots de passe et de codes à deux facteurs" <<<"$LNK"
check "no Desktop shortcut after a silent install" [ ! -e "$(unix_path "$DESKTOP\\Norvale Lockra.lnk")" ]
check "the product was not started (no tray was running)" [ "$(log_count '^start ')" -eq 0 ]

# Second install over the first: a stale ui file goes, the entry is rewritten.
echo stale >"$UDIR/ui/stale.txt"
"$WINE64" reg add "HKCU\\$UNINSTALL_KEY" /v InstallLocation /d 'C:\ailleurs' /f >/dev/null 2>&1
run_setup "/S /dir=\"$DIR\""
rc=$?
check "second silent install exits with 0 (got $rc)" [ "$rc" -eq 0 ]
check "stale file of the old ui folder removed" [ ! -e "$UDIR/ui/stale.txt" ]
check "ui folder extracted again" [ -f "$UDIR/ui/index.html" ]
expect_sz InstallLocation "$DIR"
check "still exactly one Start-menu shortcut" \
  [ "$(find "$(unix_path "$PROGRAMS")" -maxdepth 1 -name 'Norvale Lockra*.lnk' | wc -l)" -eq 1 ]

finish
