# Shared by the window scripts (tests and demo): finding the installer's
# window under Xvfb.

# Prints the id of the first visible window whose title matches the pattern
# (xdotool's regular expression), waiting up to 20 s; nothing when none came.
find_window() {
  local id=""
  for _ in $(seq 1 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$id" ] && break
    sleep 0.2
  done
  echo "$id"
}

# Waits up to 30 s for the setup program started as $PID to end and reports
# its exit code through the script's pass and fail.
wait_exit() {  # expected exit code, what
  local rc
  for _ in $(seq 1 150); do kill -0 "$PID" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$PID" 2>/dev/null; then fail "$2: still running"; kill "$PID"; return; fi
  wait "$PID"; rc=$?
  [ "$rc" = "$1" ] && pass "$2: exit code $rc" || fail "$2: exit code $rc, expected $1"
}
