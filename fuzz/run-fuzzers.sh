#!/usr/bin/env bash
# Builds the fuzz targets (the LZMS codec's, the text records', and the
# package format's: the head and entry table, the integrity section, the
# uninstaller's signature section) with
# libFuzzer and the address and undefined-behaviour sanitizers, then runs
# each for a while (FUZZ_SECONDS, default 30) from a copy of its committed
# seed corpus, or for FUZZ_RUNS executions when that is set. FUZZ_TARGETS
# picks some of them. Exits non-zero on any finding.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${NORVALE_BUILD:-$ROOT/build}/fuzz"
SECONDS_EACH="${FUZZ_SECONDS:-30}"
mkdir -p "$OUT"

FLAGS=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$ROOT")
CODEC=("$ROOT"/codec/*.cpp)
PACKAGE=("$ROOT"/package_format/*.cpp)
TARGETS="${FUZZ_TARGETS:-lzms_decode lzms_container lzms_roundtrip text_record package_head package_integrity uninstaller_signature}"
LIMIT=(-max_total_time="$SECONDS_EACH")
[ -n "${FUZZ_RUNS:-}" ] && LIMIT=(-runs="$FUZZ_RUNS")

status=0
for target in $TARGETS; do
  bin="$OUT/${target}_fuzzer"
  echo "== building $target"
  case "$target" in
    text_record) SOURCES=("$ROOT/system/text_record.cpp") ;;
    package_*|uninstaller_signature) SOURCES=("${CODEC[@]}" "${PACKAGE[@]}") ;;
    *) SOURCES=("${CODEC[@]}") ;;
  esac
  clang++ "${FLAGS[@]}" "$ROOT/fuzz/${target}_fuzzer.cpp" "${SOURCES[@]}" -o "$bin"
  work="$OUT/${target}_corpus"
  rm -rf "$work" "$OUT/${target}_findings"
  mkdir -p "$work" "$OUT/${target}_findings"
  cp "$ROOT/fuzz/corpus/$target"/* "$work"/ 2>/dev/null || true
  echo "== fuzzing $target (${LIMIT[*]})"
  if ! "$bin" "${LIMIT[@]}" -max_len=65536 -rss_limit_mb=2048 -timeout=20 \
      -artifact_prefix="$OUT/${target}_findings/" -print_final_stats=1 "$work" 2>&1 | tail -25; then
    status=1
  fi
  if [ -n "$(ls -A "$OUT/${target}_findings")" ]; then
    echo "!! $target: findings in $OUT/${target}_findings"
    status=1
  fi
done
exit $status
