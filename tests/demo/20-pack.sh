#!/usr/bin/env bash
# The setup file's package: what norvale-pack put in it, a full check of its
# blocks, and the files an extraction writes into a folder of the prefix.
set -euo pipefail
OUT="${NORVALE_OUT:?}"
setup="$OUT/Norvale-Lockra-Setup.exe"
if [ ! -e "$setup" ]; then
  echo "no $setup: the packer or the stub is not built yet"
  exit 1
fi
echo "--- norvale-pack build without --version: the version comes from the product's version block"
tmp="$(mktemp -d)"
"$OUT/norvale-pack" build --quiet --stub "$OUT/setup-stub.exe" --input "$OUT/product" --out "$tmp/setup.exe" 2>&1
rm -rf "$tmp"
echo "--- norvale-pack list $(basename "$setup")"
"$OUT/norvale-pack" list "$setup"
echo "--- norvale-pack verify $(basename "$setup")"
"$OUT/norvale-pack" verify "$setup"

echo "--- extraction into C:\\norvale-demo\\extract (the setup program's ExtractPayload)"
target="$WINEPREFIX/drive_c/norvale-demo/extract"
rm -rf "$target"
cp "$setup" "$WINEPREFIX/drive_c/norvale-demo-setup.exe"
"${WINE64:-/usr/lib/wine/wine64}" "$OUT/extract-bench.exe" extract 'C:\norvale-demo-setup.exe' 'C:\norvale-demo\extract'
(cd "$target" && find . -type f -printf '%10s  %P\n' | sort -k2)
rm -rf "$WINEPREFIX/drive_c/norvale-demo" "$WINEPREFIX/drive_c/norvale-demo-setup.exe"
