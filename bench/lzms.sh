#!/usr/bin/env bash
# LZMS codec against wimlib's (its default level) on a fixed corpus; the last
# line sums it up as ratios (size: lower is better; speeds: higher is better).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${NORVALE_OUT:-$ROOT/build/out}"
exec "$OUT/lzms_bench" "$@"
