#!/usr/bin/env bash
# The window's backdrop (brand panel, screen area, border) at scale 2, as the
# preview export renders it, written to $NORVALE_OUT/backdrop.png.
set -euo pipefail
exe="$NORVALE_OUT/backdrop-dump.exe"
out="$NORVALE_OUT/backdrop.png"
rm -f "$out"
"$WINE64" "$exe" "$(winepath -w "$out" 2>/dev/null || echo "Z:${out//\//\\}")"
[ -s "$out" ] || { echo "no backdrop written"; exit 1; }
if command -v identify >/dev/null; then
  echo "backdrop: $(identify -format '%w x %h %[channels]' "$out") -> $out"
else
  echo "backdrop written to $out"
fi
