#!/usr/bin/env bash
# "/log=FILE": one UTF-8 file of timestamped lines for a silent install, an
# update and an uninstall (whose relocated copy appends to the same file); a
# failed install names the file and the Win32 error; a log that cannot be
# written leaves the run exactly as it is without the switch.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup

C="$WINEPREFIX/drive_c"
DIR='C:\Norvale Journal\Noël Lockra'
UDIR="$C/Norvale Journal/Noël Lockra"
LOG_WIN='C:\Norvale Logs\setup log.txt'
LOG="$C/Norvale Logs/setup log.txt"
KEY_LINE="registry: set HKCU\\$UNINSTALL_KEY"
rm -rf "$C/Norvale Journal" "$C/Norvale Logs" "$C/Norvale Missing"
mkdir -p "$C/Norvale Logs"
"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1

# Lines from `from` on (1-based) of the log.
part() { tail -n +"$1" "$LOG"; }
has() { grep -qF -- "$2" <<<"$1"; }
lines() { if [ -f "$LOG" ]; then wc -l <"$LOG"; else echo 0; fi; }
expected_version() { "$NORVALE_OUT/norvale-pack" list "$SETUP" | awk '/^version/ {print $2}'; }

# --- install -------------------------------------------------------------------
run_setup "/S /dir=\"$DIR\" /log=\"$LOG_WIN\""
check "the silent install with a log succeeds" [ $? -eq 0 ]
check "the log exists" [ -f "$LOG" ]
install="$(part 1)"
# UTF-8 (the folder's ë), CRLF lines, each "YYYY-MM-DD HH:MM:SS.mmm [pid] text".
well_formed() {
  /usr/bin/python3 - "$LOG" <<'PY'
import re, sys
text = open(sys.argv[1], 'rb').read().decode('utf-8')
lines = text.split('\r\n')
ok = lines[-1] == '' and all(re.fullmatch(r'\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] \S.*', l) for l in lines[:-1])
sys.exit(0 if ok and 'Noël Lockra' in text else 1)
PY
}
check "every line: UTF-8, date, time to the millisecond, process id, text" well_formed
files=$(find "$NORVALE_OUT/product" -type f | wc -l)
for want in "Norvale Lockra Setup $(expected_version): install, silent, folder $DIR" \
  "command line: " "/log=\"$LOG_WIN\"" "no tray application running" "running copies to close: 0" \
  "extraction: $files entries, 1 blocks, $(product_total_bytes) bytes" "extraction: block 1 of 1 decoded by the built-in decoder" "extraction: done" \
  "install record written" \
  "uninstall.exe written" "S-1-15-2-2:(OI)(CI)(RX) /T /C /Q: exit code 0" \
  "$KEY_LINE\\DisplayVersion = $(expected_version)" "$KEY_LINE\\InstallLocation = $DIR" \
  "shortcut: created " "result: exit code 0"; do
  check "install log has: $want" has "$install" "$want"
done
check "the result is the last line" bash -c 'tail -1 "$0" | grep -q "result: exit code 0"' "$LOG"

# --- update: appended ----------------------------------------------------------
from=$(($(lines) + 1))
run_setup "/S /update /dir=\"$DIR\" /log=\"$LOG_WIN\""
check "the silent update succeeds" [ $? -eq 0 ]
update="$(part "$from")"
check "the update appended (the install's lines are kept)" has "$(part 1)" "install, silent"
for want in "update, silent, folder $DIR" "extraction: done" "result: exit code 0"; do
  check "update log has: $want" has "$update" "$want"
done

# --- uninstall from the folder: relocated, both processes in one log -----------
from=$(($(lines) + 1))
run_line "\"$DIR\\uninstall.exe\" /S /log=\"$LOG_WIN\""
for _ in $(seq 1 150); do  # the last lines of both: the first process's, then its copy's
  [ "$(part "$from" | grep -c 'result: exit code')" -ge 2 ] && break
  sleep 0.2
done
uninstall="$(part "$from")"
check "uninstall log: the relocation, with the log handed on" has "$uninstall" "/fromtemp /dir=\"$DIR\" /S /log=\"$LOG_WIN\""
pids=$(grep -aF 'uninstall, silent' <<<"$uninstall" | sed -E 's/^[^[]*\[([0-9]+)\].*/\1/' | sort -u | wc -l)
check "uninstall log: two processes (the uninstaller and its copy) started ($pids)" [ "$pids" -eq 2 ]
for want in "registry: removed HKCU\\$UNINSTALL_KEY" "registry: removed HKCU\\$RUN_KEY\\Norvale Lockra" \
  "shortcut: removed " "folder removed: $DIR" "self-deletion: " "the relocated copy reports: uninstalled" \
  "result: exit code 0"; do
  check "uninstall log has: $want" has "$uninstall" "$want"
done
check "the folder is gone" [ ! -e "$UDIR" ]

# --- a failed install: a payload file held open by another program -------------
mkdir -p "$UDIR"
"$WINE64" "$PROBE" lock "$DIR\\LISEZMOI.txt" >/dev/null 2>&1 &
locker=$!
sleep 2
from=$(($(lines) + 1))
run_setup "/S /dir=\"$DIR\" /log=\"$LOG_WIN\""
check "the install over a locked file fails" [ $? -eq 1 ]
failed="$(part "$from")"
for want in "extraction: cannot create $DIR\\LISEZMOI.txt (Win32 error 32)" \
  "extraction: failed: Impossible d'écrire LISEZMOI.txt" "result: exit code 1"; do
  check "failed install log has: $want" has "$failed" "$want"
done
wait "$locker"

# --- a log that cannot be written changes nothing ------------------------------
rm -rf "$C/Norvale Journal"
"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
before=$(ls -A "$C/Norvale Logs" | wc -l)
for bad in 'C:\Norvale Logs' 'C:\Norvale Missing\setup.log'; do
  run_setup "/S /dir=\"$DIR\" /log=\"$bad\""
  check "with the unwritable log $bad the install succeeds" [ $? -eq 0 ]
  check "with the unwritable log $bad every file is installed" same_tree "$UDIR"
  check "with the unwritable log $bad the uninstall entry is written" reg_key_exists "$UNINSTALL_KEY"
done
check "nothing was written into the folder given as the log" [ "$(ls -A "$C/Norvale Logs" | wc -l)" -eq "$before" ]
check "no folder was made for the log" [ ! -e "$C/Norvale Missing" ]

# --- a log never goes into a program: the running setup file, or another ------
mkdir -p "$C/norvale-log-programs"
cp "$SETUP" "$C/norvale-log-programs/setup.exe"
cp "$PROBE" "$C/norvale-log-programs/other.exe"
for target in setup.exe other.exe; do
  run_line "\"C:\\norvale-log-programs\\setup.exe\" /S /dir=\"$DIR\" /log=C:\\norvale-log-programs\\$target"
  check "with the log naming the program $target the install succeeds" [ $? -eq 0 ]
done
check "the running setup file is left as it was" cmp -s "$SETUP" "$C/norvale-log-programs/setup.exe"
check "another program named as the log is left as it was" cmp -s "$PROBE" "$C/norvale-log-programs/other.exe"
rm -rf "$C/norvale-log-programs"
echo "--- the log"
tr -d '\r' <"$LOG" | sed 's/^/  | /'

run_line "\"$DIR\\uninstall.exe\" /uninstall /S /dir=\"$DIR\""
rm -rf "$C/Norvale Journal" "$C/Norvale Logs"
finish
