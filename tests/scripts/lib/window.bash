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
