#!/usr/bin/env bash
# Installing over a running product: the tray window is asked to quit and
# the product comes back with "--background"; a product that ignores the
# request is ended after the grace period; an update with /relaunch=1 also
# starts the product without arguments at the end.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup
standin_log_init

DIR='C:\Norvale Marche\Norvale Lockra'
EXE="$DIR\\Norvale-Lockra.exe"
rm -rf "$WINEPREFIX/drive_c/Norvale Marche"
run_setup "/S /dir=\"$DIR\"" || { echo "FAIL: first install"; exit 1; }
DESKTOP_LNK="$(unix_path "$(known desktop)\\Norvale Lockra.lnk")"
rm -f "$DESKTOP_LNK"

# 1. A product that quits when asked.
start_product "$EXE"
check "stand-in product running" wait_log_count '^ready ' 1 20
timed_setup "/S /dir=\"$DIR\""
check "install over the running product exits with 0 (got $RC)" [ "$RC" -eq 0 ]
check "its tray window got the quit request" [ "$(log_count '^quit-request ')" -eq 1 ]
check "it ended by itself" [ "$(log_count '^exit ')" -eq 1 ]
check "no grace period wasted (${ELAPSED}s)" [ "$ELAPSED" -lt 15 ]
check "restarted with --background" wait_log_count '^start .* args=\[--background\]' 1 15
wait_log_count '^ready ' 2 15

# 2. A product that ignores the request: ended after the 20 s of a silent run.
#    The copy restarted above is still running and quits when asked.
start_product "$EXE" --ignore-quit
wait_log_count '^ready ' 3 20
timed_setup "/S /dir=\"$DIR\""
check "install over a stubborn product exits with 0 (got $RC)" [ "$RC" -eq 0 ]
check "the stubborn copy ignored the request" [ "$(log_count '^quit-request .* ignored')" -eq 1 ]
check "it was ended after the grace period (${ELAPSED}s)" [ "$ELAPSED" -ge 19 ] && [ "$ELAPSED" -lt 45 ]
STUBBORN_PID="$(grep -- '--ignore-quit' "$STANDIN_LOG" | sed -n 's/^start pid=\([0-9]*\).*/\1/p' | head -1)"
check "it did not end by itself" [ "$(grep -c "^exit pid=$STUBBORN_PID\$" "$STANDIN_LOG")" -eq 0 ]
check "the product was restarted with --background" wait_log_count '^start .* args=\[--background\]' 2 15
wait_log_count '^ready ' 4 15

# 3. Silent update with /relaunch=1 while the product runs.
run_setup "/S /update /relaunch=1 /dir=\"$DIR\""
RC=$?
check "update exits with 0 (got $RC)" [ "$RC" -eq 0 ]
check "relaunched in the background by the sequence" wait_log_count '^start .* args=\[--background\]' 3 15
check "started without arguments at the end (exact command line)" \
  wait_log_count "^start .* args=\[\] cmdline=\[\"$(printf '%s' "$EXE" | sed 's/[][\\.*^$]/\\&/g')\"\]" 1 15
check "no Desktop shortcut after an update" [ ! -e "$DESKTOP_LNK" ]

# Leave nothing running: uninstall (the setup file, started outside the folder).
run_setup "/S /uninstall /dir=\"$DIR\""
check "product folder removed at the end" [ ! -e "$WINEPREFIX/drive_c/Norvale Marche/Norvale Lockra" ]
echo "--- stand-in log"; cat "$STANDIN_LOG"
finish
