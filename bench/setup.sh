#!/usr/bin/env bash
# Size of what a user downloads, and the packer's verification speed.
# Native, no Wine: `./run bench setup`.
#   stub: bytes=N               the setup program's own image (stripped)
#   setup-vs-peer: size=R       64 MiB of Windows DLLs (Wine's, whole files in
#                               name order) as our setup file at --level max,
#                               over the same files in an installer made by
#                               makensis (LZMA, solid, 64 MB dictionary, an
#                               install page, a folder page and an uninstaller)
#   verify: ... vs_decode_only=R  norvale-pack's verification of that setup
#                               file against decoding its blocks alone
# Targets: N <= 1,250,000; size R <= 1.10; vs_decode_only >= 0.9.
# Our setup file is kept in the build folder while this script, the packer
# and the stub are unchanged (packing 64 MiB at --level max takes minutes).
set -euo pipefail
OUT="${NORVALE_OUT:?run through ./run bench setup}"
DLLS="${BENCH_DLLS:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}"
for f in setup-stub.exe norvale-pack verify-bench; do
  [ -e "$OUT/$f" ] || { echo "bench setup: $OUT/$f is not built" >&2; exit 1; }
done
command -v makensis >/dev/null || { echo "bench setup: makensis is missing (Debian package nsis)" >&2; exit 1; }
[ -d "$DLLS" ] || { echo "bench setup: no DLL folder $DLLS" >&2; exit 1; }

stub_bytes="$(stat -c %s "$OUT/setup-stub.exe")"
echo "stub: bytes=$stub_bytes"

work="$(mktemp -d /tmp/norvale-bench-setup.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/product"
limit=$((64 << 20)) total=0
while IFS= read -r f; do
  size="$(stat -c %s "$f")"
  [ $((total + size)) -le $limit ] || break
  cp "$f" "$work/product/"
  total=$((total + size))
done < <(find "$DLLS" -maxdepth 1 -name '*.dll' -type f | LC_ALL=C sort)
# The packer wants the product's executable: the first DLL stands for it
# (same bytes in both installers; it stays first in our stream).
first="$(ls "$work/product" | LC_ALL=C sort | head -1)"
mv "$work/product/$first" "$work/product/Norvale-Lockra.exe"
count="$(ls "$work/product" | wc -l)"
echo "bench setup: $count DLLs, $total bytes" >&2

cache="${NORVALE_BUILD:-$OUT/..}/bench-setup"
key="$(cat "$0" "$OUT/norvale-pack" "$OUT/setup-stub.exe" <(ls -l "$work/product") | sha256sum | cut -c1-16)"
ours="$cache/setup-$key.exe"
if [ ! -e "$ours" ]; then
  rm -rf "$cache"
  mkdir -p "$cache"
  SECONDS=0
  "$OUT/norvale-pack" build --stub "$OUT/setup-stub.exe" --input "$work/product" --version bench \
    --level max --quiet --out "$work/ours.exe" >&2
  echo "bench setup: norvale-pack --level max took $SECONDS s" >&2
  mv "$work/ours.exe" "$ours"
else
  echo "bench setup: reusing $ours" >&2
fi

cat >"$work/peer.nsi" <<'NSI'
Unicode true
SetCompressor /SOLID /FINAL lzma
SetCompressorDictSize 64
Name "Norvale Lockra"
OutFile "peer.exe"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Norvale Lockra"
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
Section
  SetOutPath "$INSTDIR"
  File /r "product\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
SectionEnd
Section "Uninstall"
  RMDir /r "$INSTDIR"
SectionEnd
NSI
SECONDS=0
(cd "$work" && makensis -V1 peer.nsi >&2)
echo "bench setup: makensis took $SECONDS s" >&2
ours_bytes="$(stat -c %s "$ours")" peer_bytes="$(stat -c %s "$work/peer.exe")"
echo "bench setup: ours $ours_bytes bytes (stub $stub_bytes), peer $peer_bytes bytes" >&2
python3 -c "import sys; print(f'setup-vs-peer: size={int(sys.argv[1]) / int(sys.argv[2]):.4f}')" "$ours_bytes" "$peer_bytes"
"$OUT/verify-bench" "$ours"
