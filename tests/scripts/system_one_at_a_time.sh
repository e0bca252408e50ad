#!/usr/bin/env bash
# One install, update or uninstall at a time:
# - two silent installs of the same file started together: each ends with 0
#   or 1, at least one with 0, and the folder ends whole;
# - a silent update and a silent uninstall started together: the end state
#   is one of the two whole results, installed and registered or gone and
#   unregistered, never a mix;
# - a window opened while a silent update holds the lock shows the Error
#   screen; once the update is over, its "Réessayer" runs the install.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
. "$(dirname "$0")/lib/window.bash"
require_throwaway_prefix
require_setup
standin_log_init

DIR='C:\Norvale Ensemble\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Ensemble/Norvale Lockra"
rm -rf "$WINEPREFIX/drive_c/Norvale Ensemble"
whole_install() { same_tree "$UDIR" >/dev/null && [ -f "$UDIR/uninstall.exe" ] && [ -f "$UDIR/install-record.txt" ] && [ "$(reg_value "$UNINSTALL_KEY" InstallLocation | cut -f3)" = "$DIR" ]; }
whole_removal() { [ ! -e "$UDIR" ] && ! reg_key_exists "$UNINSTALL_KEY"; }

run_setup "/S /dir=\"$DIR\"" & a=$!
run_setup "/S /dir=\"$DIR\"" & b=$!
wait $a; ra=$?
wait $b; rb=$?
check "two installs together: exit codes $ra and $rb, at least one 0" [ $((ra * rb)) -eq 0 ]
check "two installs together: the folder ends whole" whole_install

run_setup "/S /update /dir=\"$DIR\"" & a=$!
run_line "\"$DIR\\uninstall.exe\" /S" & b=$!
wait $a; wait $b
# The uninstall may work on in its relocated copy: wait for it to settle.
for _ in $(seq 1 60); do whole_install || whole_removal && break; sleep 0.5; done
sleep 3
check "update and uninstall together: one whole result (installed: $(whole_install && echo yes || echo no), removed: $(whole_removal && echo yes || echo no))" \
  bash -c '"$0" || "$1"' "$(whole_install && echo true || echo false)" "$(whole_removal && echo true || echo false)"

# A silent update that holds the lock for a while: the product runs and
# ignores the request to quit, so the update waits out its grace period.
run_setup "/S /dir=\"$DIR\"" >/dev/null 2>&1
start_product "$DIR\\Norvale-Lockra.exe" --ignore-quit
wait_log_count '^ready ' 1 20
run_setup "/S /update /dir=\"$DIR\"" & upd=$!
sleep 3
WLOG="$WINEPREFIX/drive_c/verrou-fenetre.log"
rm -f "$WLOG"
run_line "\"$SETUP_WIN\" /dir=\"$DIR\" /log=C:\\verrou-fenetre.log" &
win=$!
wid="$(find_window 'Norvale Lockra')"
if [ -n "$wid" ]; then
  sleep 1
  check "second window: the update is still running" kill -0 "$upd"
  check "second window: opened on the Error screen, the lock being held" grep -q 'lock is held by another run' "$WLOG"
  wait $upd
  rc=$?
  check "the update ends with 0 (got $rc)" [ "$rc" -eq 0 ]
  xdotool windowfocus "$wid" 2>/dev/null; sleep 0.2
  xdotool key Return   # "Réessayer"
  for _ in $(seq 1 100); do grep -q 'extraction: done' "$WLOG" && break; sleep 0.3; done
  sleep 3
  check "after Réessayer the install ran" grep -q 'extraction: done' "$WLOG"
  check "and the folder is whole" whole_install
  xdotool windowfocus "$wid" 2>/dev/null; sleep 0.2
  xdotool key Escape
  for _ in $(seq 1 50); do kill -0 "$win" 2>/dev/null || break; sleep 0.2; done
  kill "$win" 2>/dev/null
else
  fail "no window for the second run"
  kill "$win" 2>/dev/null
fi
wait "$win" 2>/dev/null

run_setup "/S /uninstall /dir=\"$DIR\""
check "cleaned up" whole_removal
finish
