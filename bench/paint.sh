#!/usr/bin/env bash
# Frame painting benchmark, inside the Wine prefix (under Xvfb) that
# `./run bench paint` made: paint-bench.exe paints each screen of the preview
# list many times at scale 1 and 2 and reports the median frame time of each.
# Last line: paint: worst_frame_ms=X budget_ms=33 ratio=R
# (X = the slowest screen's median at scale 2, R = X / 33).
# Before it: startup: assets_ms=A first_frame_ms=F, the best of a few fresh
# processes (from the entry point to the first frame painted, A of it loading
# the embedded images and fonts).
set -euo pipefail
OUT="${NORVALE_OUT:?run through ./run bench paint}"
FRAMES="${BENCH_FRAMES:-60}"
exe="$OUT/paint-bench.exe"
[ -e "$exe" ] || { echo "bench paint: $exe is not built" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] || { echo "bench paint: no Wine prefix (use ./run bench paint)" >&2; exit 1; }
WINE="${WINE64:-/usr/lib/wine/wine64}"
best_first="" best_line=""
for round in $(seq "${BENCH_STARTUPS:-7}"); do
  line="$("$WINE" "$exe" startup | tr -d '\r' | grep '^startup: ')"
  echo "round $round: $line" >&2
  first="$(echo "$line" | sed -n 's/.* first_frame_ms=\([^ ]*\).*/\1/p')"
  if [ -z "$best_first" ] || python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) < float(sys.argv[2]) else 1)" "$first" "$best_first"; then
    best_first="$first" best_line="$line"
  fi
done
echo "$best_line"
result="$("$WINE" "$exe" "$FRAMES" | tr -d '\r')"
echo "$result" | grep -v '^paint: worst_frame_ms=' || true
last="$(echo "$result" | grep '^paint: worst_frame_ms=' | tail -1)"
[ -n "$last" ] || { echo "bench paint: no result line" >&2; exit 1; }
echo "$last"
