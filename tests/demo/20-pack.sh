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

echo "--- a copy with one byte changed half way through the block"
damaged="$WINEPREFIX/drive_c/norvale-demo-damaged.exe"
cp "$setup" "$damaged"
offset="$("$OUT/norvale-pack" list "$setup" | sed -n 's/^package at \([0-9]*\), \([0-9]*\) bytes.*/\1 \2/p' |
  awk '{ print $1 + int($2 / 2) }')"
/usr/bin/python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2])); b = f.read(1); f.seek(int(sys.argv[2])); f.write(bytes([b[0] ^ 0x5A]))' "$damaged" "$offset"
echo "byte $offset changed"
echo "--- norvale-pack verify (the damaged copy)"
"$OUT/norvale-pack" verify "$damaged" && echo "exit code: 0" || echo "exit code: $?"
echo "--- norvale-demo-damaged.exe /S /dir=C:\\norvale-demo\\damaged"
rc=0
"${WINE64:-/usr/lib/wine/wine64}" "$OUT/fixtures/norvale-probe.exe" run \
  '"C:\norvale-demo-damaged.exe" /S /dir="C:\norvale-demo\damaged"' >/dev/null 2>&1 || rc=$?
echo "exit code: $rc (1: the damaged installer was refused)"
rm -rf "$damaged" "$WINEPREFIX/drive_c/norvale-demo"
