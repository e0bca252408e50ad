#!/usr/bin/env bash
# Packs the setup file after both builds: the product folder (the stand-in
# product built into ${NORVALE_OUT}/product plus the static files of
# fixtures/product) goes behind setup-stub.exe as Norvale-Lockra-Setup.exe.
# No --version: the packer reads it from the product's version block, which
# the build writes from NORVALE_VERSION.
# Skips cleanly while the stub or the packer has not been built.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="${NORVALE_OUT:-$ROOT/build/out}"
stub="$OUT/setup-stub.exe" pack="$OUT/norvale-pack" product="$OUT/product"

for need in "$stub" "$pack"; do
  if [ ! -e "$need" ]; then
    echo "make-setup: $(basename "$need") is not built yet; no setup file made"
    exit 0
  fi
done
mkdir -p "$product"
if [ -d "$ROOT/fixtures/product" ]; then
  cp -R "$ROOT/fixtures/product/." "$product/"
fi
if [ ! -e "$product/Norvale-Lockra.exe" ]; then
  echo "make-setup: warning: $product has no Norvale-Lockra.exe" >&2
fi
"$pack" build --stub "$stub" --input "$product" --out "$OUT/Norvale-Lockra-Setup.exe"
