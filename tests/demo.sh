#!/usr/bin/env bash
# The demonstration: every stage of tests/demo/ in order, inside the throwaway
# Wine prefix that `./run demo` made. Each stage prints what it shows.
set -uo pipefail
status=0
for stage in "$NORVALE_ROOT"/tests/demo/*.sh; do
  [ -e "$stage" ] || continue
  echo
  echo "=== $(basename "$stage" .sh)"
  bash "$stage" || { echo "stage $(basename "$stage") failed"; status=1; }
done
exit $status
