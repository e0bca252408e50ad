#!/usr/bin/env bash
# The system's decompressor refusing blocks. Wine's cabinet.dll has no
# Compression API, so a stand-in with one (tests/win/programs) is copied over
# the private prefix's System32\cabinet.dll, Wine is told to load the native
# file (WINEDLLOVERRIDES=cabinet=n), and Wine's own file is put back at the
# end. The setup program loads it the only way it loads cabinet.dll: from
# System32. A package of two blocks is installed with the stand-in decoding,
# refusing every block, one in two, returning a short size or other bytes:
# every install succeeds with whole files, the blocks it refused having been
# decoded again by the built-in decoder. With a damaged block, both refuse.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup
STANDIN="$NORVALE_BUILD/win/programs/standin-cabinet/cabinet.dll"
BENCH="$NORVALE_OUT/extract-bench.exe"
for f in "$STANDIN" "$BENCH" "$NORVALE_OUT/norvale-pack" "$NORVALE_OUT/setup-stub.exe"; do
  [ -f "$f" ] || { echo "FAIL: $f has not been built"; exit 1; }
done

work="$WINEPREFIX/drive_c/norvale-sysdec"
system32="$WINEPREFIX/drive_c/windows/system32"
rm -rf "$work"
mkdir -p "$work"
"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1

# Two blocks: the stand-in product and a 33 MiB file across the boundary.
cp -r "$NORVALE_OUT/product" "$work/product"
/usr/bin/python3 -c 'import random, sys; r = random.Random(17); open(sys.argv[1], "wb").write(r.randbytes(4096) * 8448)' \
  "$work/product/big.bin"
"$NORVALE_OUT/norvale-pack" build --quiet --stub "$NORVALE_OUT/setup-stub.exe" --input "$work/product" \
  --version 2.0 --out "$work/two.exe" >/dev/null 2>&1
check "a package of two blocks was packed" \
  bash -c "\"$NORVALE_OUT/norvale-pack\" list \"$work/two.exe\" | grep -q '^2 blocks,'"
# A copy whose second block is damaged half way.
cp "$work/two.exe" "$work/damaged.exe"
# (The integrity section follows the second block's bytes.)
offset="$("$NORVALE_OUT/norvale-pack" list "$work/two.exe" | awk '
  /^integrity section: present at/ { sub(",", "", $5); section = $5 }
  / -> / { packed = $3 }
  END { print section - int(packed / 2) }')"
flip_byte "$work/damaged.exe" "$offset"

cp "$system32/cabinet.dll" "$work/cabinet.dll.wine"
restore() { cp "$work/cabinet.dll.wine" "$system32/cabinet.dll"; }
trap restore EXIT
cp "$STANDIN" "$system32/cabinet.dll"
export WINEDLLOVERRIDES="cabinet=n"
export NORVALE_CABINET_LOG='C:\norvale-sysdec\cabinet.log'
LOG="$work/cabinet.log"

# mode, expected decoders of the two blocks (S system, R built-in after a
# refusal), as extract-bench reports them (the setup program's extraction)
cases="decode SS
refuse RR
alternate RS
short RR
wrong RR"
n=0
while read -r mode letters; do
  n=$((n + 1))
  export NORVALE_CABINET_MODE="$mode"
  : >"$LOG"
  rm -rf "$work/x-$n"
  line="$("$WINE64" "$BENCH" extract 'C:\norvale-sysdec\two.exe' "C:\\norvale-sysdec\\x-$n" 2>&1 | tr -d '\r')"
  check "$mode: the stand-in served the extraction ($(grep -c '^decompress' "$LOG") calls)" \
    [ "$(grep -c '^decompress' "$LOG")" -eq 2 ]
  check "$mode: blocks decoded by $letters ($line)" grep -q "blocks=$letters\$" <<<"$line"
  run_line "\"C:\\norvale-sysdec\\two.exe\" /S /dir=\"C:\\norvale-sysdec\\dir-$n\""
  rc=$?
  check "$mode: silent install exits with 0 (got $rc)" [ "$rc" -eq 0 ]
  check "$mode: the big file is whole" cmp -s "$work/product/big.bin" "$work/dir-$n/big.bin"
  check "$mode: every product file is whole" same_tree "$work/dir-$n"
  rm -rf "$work/x-$n" "$work/dir-$n"
done <<<"$cases"

"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
for mode in refuse decode; do
  export NORVALE_CABINET_MODE="$mode"
  : >"$LOG"
  line="$("$WINE64" "$BENCH" extract 'C:\norvale-sysdec\damaged.exe' 'C:\norvale-sysdec\x-bad' 2>&1 | tr -d '\r')"
  check "$mode, damaged second block: both decoders refuse it ($line)" \
    env LC_ALL=C grep -q "Installateur endommag.* (blocks=.R)" <<<"$line"
  run_line "\"C:\\norvale-sysdec\\damaged.exe\" /S /dir=\"C:\\norvale-sysdec\\dir-bad\""
  rc=$?
  check "$mode, damaged second block: silent install exits with 1 (got $rc)" [ "$rc" -eq 1 ]
  check "$mode, damaged: no uninstall entry" \
    bash -c "! \"\$0\" reg query 'HKCU\\$UNINSTALL_KEY' >/dev/null 2>&1" "$WINE64"
done

restore
trap - EXIT
check "Wine's own cabinet.dll is back" cmp -s "$work/cabinet.dll.wine" "$system32/cabinet.dll"
unset WINEDLLOVERRIDES
"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
rm -rf "$work"
finish
