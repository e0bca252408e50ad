#!/usr/bin/env bash
# A silent uninstall through the registered quiet command line, started from
# uninstall.exe inside the folder it removes; nothing is left behind.
set -uo pipefail
. "$NORVALE_ROOT/tests/scripts/lib/system.bash"
require_setup
DIR="$(known localappdata)\\Programs\\Norvale Lockra"
UDIR="$(unix_path "$DIR")"
from=$(($(demo_log_lines) + 1))
echo "--- \"$DIR\\uninstall.exe\" /uninstall /S /log=\"$DEMO_LOG_WIN\""
run_line "\"$DIR\\uninstall.exe\" /uninstall /S /log=\"$DEMO_LOG_WIN\""
echo "exit code: $? (the verdict of its copy in the temporary folder, which does the work)"
end=$((SECONDS + 60))
while [ "$SECONDS" -lt "$end" ] && { [ -e "$UDIR" ] || reg_key_exists "$UNINSTALL_KEY"; }; do sleep 0.5; done
sleep 4
echo "--- installation folder: $([ -e "$UDIR" ] && echo "still there" || echo gone)"
echo "--- uninstall entry: $(reg_key_exists "$UNINSTALL_KEY" && echo "still there" || echo gone)"
echo "--- Start-menu shortcut: $([ -e "$(unix_path "$(known programs)\\Norvale Lockra.lnk")" ] && echo "still there" || echo gone)"
UTEMP="$(unix_path "$(known temp)")"
echo "--- temporary uninstaller copies left: $(ls "$UTEMP"/Norvale-uninstall-*.exe 2>/dev/null | wc -l)"
show_demo_log "$from"
echo "--- last lines of the stand-in log"
tail -n 3 "$WINEPREFIX/drive_c/NorvaleStandin/e2e.log" | sed 's/^/  /'
