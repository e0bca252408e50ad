#!/usr/bin/env bash
# LZMS codec against wimlib's (its default level) on a fixed corpus; the last
# line sums it up as ratios (size: lower is better; speeds: higher is better).
# At the default settings each file's size ratio is also held against
# lzms_baseline.txt: a note says when it moved beyond that file's usual noise.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${NORVALE_OUT:-$ROOT/build/out}"
BASELINE="$ROOT/bench/lzms_baseline.txt"
if [ $# -gt 0 ] || [ ! -f "$BASELINE" ]; then exec "$OUT/lzms_bench" "$@"; fi

table="$(mktemp)"
trap 'rm -f "$table"' EXIT
status=0
"$OUT/lzms_bench" >"$table" || status=$?
# The table and whatever came before it, then the notes, then the two lines
# that sum the run up, which stay last.
head -n -2 "$table"
# Table rows: name, size, ours, max, wimlib, ratio, max ratio, "|", ...
# Names hold spaces.
awk -v baseline="$BASELINE" '
  BEGIN {
    FS = "\t"
    while ((getline line < baseline) > 0) {
      if (line ~ /^#/ || line == "") continue
      split(line, f, "\t"); usual[f[1]] = f[2]; noise[f[1]] = f[3]
    }
    FS = " "
  }
  {
    bar = 0
    for (i = 1; i <= NF; i++) if ($i == "|") { bar = i; break }
    if (bar < 8) next
    name = $1
    for (i = 2; i <= bar - 7; i++) name = name " " $i
    if (!(name in usual)) next
    seen[name] = 1
    ratio = $(bar - 5) / $(bar - 3)
    move = (ratio / usual[name] - 1) * 100
    if (move > noise[name] || move < -noise[name])
      printf "note: %s: size ratio %.4f against its usual %.4f (%+.2f %%, beyond its noise of %.2f %%)\n",
             name, ratio, usual[name], move, noise[name]
  }
  END {
    for (name in usual) if (!(name in seen)) printf "note: %s: not measured in this run\n", name
  }' "$table"
tail -n 2 "$table"
exit "$status"
