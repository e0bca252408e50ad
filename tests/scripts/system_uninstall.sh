#!/usr/bin/env bash
# Uninstall started from uninstall.exe inside the installation folder: it
# relocates to the temporary folder, the folder goes entirely (uninstall.exe
# included), the temporary copy deletes itself about two seconds after it
# ends; the uninstall entry, the Run value and the shortcuts are gone; the
# user's data folder stays.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup
standin_log_init

DIR='C:\Norvale Retrait\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Retrait/Norvale Lockra"
rm -rf "$WINEPREFIX/drive_c/Norvale Retrait"
run_setup "/S /dir=\"$DIR\"" || { echo "FAIL: install"; exit 1; }
check "installed" [ -f "$UDIR/uninstall.exe" ]

"$WINE64" reg add "HKCU\\$RUN_KEY" /v 'Norvale Lockra' /d "\"$DIR\\Norvale-Lockra.exe\" --background" /f >/dev/null 2>&1
"$WINE64" reg add "HKCU\\$RUN_KEY" /v 'Autre' /d 'autre.exe' /f >/dev/null 2>&1
LOCAL="$(known localappdata)"
ULOCAL="$(unix_path "$LOCAL")"
mkdir -p "$ULOCAL/Norvale/Lockra" && echo '{}' >"$ULOCAL/Norvale/Lockra/favoris.json"
UTEMP="$(unix_path "$(known temp)")"
rm -f "$UTEMP"/Norvale-uninstall-*.exe
START_LNK="$(unix_path "$(known programs)\\Norvale Lockra.lnk")"
check "Start-menu shortcut present before" [ -f "$START_LNK" ]

# The product runs while it is uninstalled.
start_product "$DIR\\Norvale-Lockra.exe"
wait_log_count '^ready ' 1 20

# The quiet command line the registry advertises.
QUIET="$(reg_value "$UNINSTALL_KEY" QuietUninstallString | cut -f3)"
echo "running: $QUIET"
run_line "$QUIET"
rc=$?
check "the first uninstaller process exits with 0 (got $rc)" [ "$rc" -eq 0 ]

# The relocated copy does the work; wait for the folder to go.
seen_copy=0
end=$((SECONDS + 60))
while [ "$SECONDS" -lt "$end" ]; do
  ls "$UTEMP"/Norvale-uninstall-*.exe >/dev/null 2>&1 && seen_copy=1
  [ ! -e "$UDIR" ] && ! reg_key_exists "$UNINSTALL_KEY" && break
  sleep 0.3
done
check "a copy ran from the temporary folder" [ "$seen_copy" -eq 1 ]
check "installation folder gone, uninstall.exe included" [ ! -e "$UDIR" ]
check "uninstall entry gone" bash -c "! \"\$0\" reg query 'HKCU\\$UNINSTALL_KEY' >/dev/null 2>&1" "$WINE64"
check "Run value of the product gone" [ -z "$(probe reg "$RUN_KEY" | awk -F'\t' '$1 == "Norvale Lockra"')" ]
check "other Run values kept" [ -n "$(probe reg "$RUN_KEY" | awk -F'\t' '$1 == "Autre"')" ]
check "Start-menu shortcut gone" [ ! -e "$START_LNK" ]
check "the running product was asked to quit" [ "$(log_count '^quit-request ')" -ge 1 ]
check "user data kept" [ -f "$ULOCAL/Norvale/Lockra/favoris.json" ]

# The temporary copy deletes itself about two seconds after it ends.
end=$((SECONDS + 20))
while [ "$SECONDS" -lt "$end" ] && ls "$UTEMP"/Norvale-uninstall-*.exe >/dev/null 2>&1; do sleep 0.5; done
check "the temporary copy deleted itself" bash -c "! ls \"$UTEMP\"/Norvale-uninstall-*.exe >/dev/null 2>&1"

# A second uninstall finds no product there: it changes nothing and fails.
run_setup "/S /uninstall /dir=\"$DIR\""
rc=$?
check "a second uninstall exits with 1 (got $rc)" [ "$rc" -eq 1 ]
"$WINE64" reg delete "HKCU\\$RUN_KEY" /v Autre /f >/dev/null 2>&1
finish
