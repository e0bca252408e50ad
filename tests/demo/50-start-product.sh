#!/usr/bin/env bash
# The installed stand-in product is started; its hidden tray window is what
# the setup program talks to.
set -uo pipefail
. "$NORVALE_ROOT/tests/scripts/lib/system.bash"
require_setup
STANDIN_LOG="$WINEPREFIX/drive_c/NorvaleStandin/e2e.log"
export NORVALE_STANDIN_LOG='C:\NorvaleStandin\e2e.log'
EXE="$(known localappdata)\\Programs\\Norvale Lockra\\Norvale-Lockra.exe"
echo "--- starting $EXE"
start_product "$EXE"
wait_log_count '^ready ' 1 20 && echo "running; tray window \"NorvaleLockraTray\" is up"
echo "--- stand-in log"
sed 's/^/  /' "$STANDIN_LOG"
