#!/usr/bin/env bash
# A silent update while the product runs: the tray is asked to quit, the
# files are replaced, and the product comes back (in the background, and once
# more without arguments for /relaunch=1).
set -uo pipefail
. "$NORVALE_ROOT/tests/scripts/lib/system.bash"
require_setup
STANDIN_LOG="$WINEPREFIX/drive_c/NorvaleStandin/e2e.log"
export NORVALE_STANDIN_LOG='C:\NorvaleStandin\e2e.log'
lines=$(wc -l <"$STANDIN_LOG")
from=$(($(demo_log_lines) + 1))
echo "--- Norvale-Lockra-Setup.exe /S /update /relaunch=1 /log=\"$DEMO_LOG_WIN\""
t0=$SECONDS
run_setup "/S /update /relaunch=1 /log=\"$DEMO_LOG_WIN\""
echo "exit code: $? (after $((SECONDS - t0)) s)"
show_demo_log "$from"
sleep 2
echo "--- what the stand-in product saw"
tail -n +"$((lines + 1))" "$STANDIN_LOG" | sed 's/^/  /'
echo "--- DisplayVersion: $(reg_value "$UNINSTALL_KEY" DisplayVersion | cut -f3)"
