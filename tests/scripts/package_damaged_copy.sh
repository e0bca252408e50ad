#!/usr/bin/env bash
# Copies of the setup file with one byte changed inside the package (the
# header, the entry table, the block's header, the compressed bytes from
# start to end, the integrity section, the trailer): every silent install of
# them exits with 1 and registers nothing, and none of them takes itself for
# an uninstaller, which would delete the folder it was saved in. The
# untouched file then installs.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup

work="$WINEPREFIX/drive_c/norvale-damaged"
rm -rf "$work"
mkdir -p "$work"
"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1

# Offsets to change, with what they hit, from the package's own layout
# (header, table, one block, section, trailer).
mapfile -t samples < <(/usr/bin/python3 - "$SETUP" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
end = len(data)
# The trailer sits before the certificate table of a signed file; this one
# is unsigned unless it ends in the trailer's magic 0-7 bytes earlier.
t = next(end - i - 24 for i in range(8) if data[end - i - 8:end - i] == b"HLVXPAK1")
p, length = struct.unpack_from("<QQ", data, t)
at = p + 8
vlen = struct.unpack_from("<I", data, at)[0]
at += 4 + vlen + 8
count = struct.unpack_from("<I", data, at)[0]
at += 4
first_name = at + 2
for _ in range(count):
    n = struct.unpack_from("<H", data, at)[0]
    at += 2 + n + 8
blocks = struct.unpack_from("<I", data, at)[0]
block = at + 4
raw, packed = struct.unpack_from("<II", data, block)
c = block + 8
section = c + packed
for b in range(1, blocks):
    section += 8 + struct.unpack_from("<I", data, section + 4)[0]
samples = [
    (p + 1, "header magic"), (p + 4, "header format"), (p + 8, "version length"), (p + 13, "version text"), (first_name + 1, "first entry name"), (first_name + 20, "first entry size"),
    (block - 4, "block count"), (block + 1, "block raw size"), (block + 5, "block compressed size"),
    (c + 6, "container check byte"), (c + 30, "first compressed bytes"), (c + packed // 3, "compressed, a third in"),
    (c + packed // 2, "compressed, half way"), (c + 2 * packed // 3, "compressed, two thirds in"),
    (c + packed - 1, "last compressed byte"), (section + 2, "section magic"), (section + 40, "block checksum"),
    (t - 20, "stream hash"), (t - 1, "section checksum"), (t + 2, "trailer package offset"),
    (t + 9, "trailer package length"), (t + 20, "trailer magic"),
]
for offset, what in samples:
    print(f"{offset} {what}")
PY
)
check "the package layout was read (${#samples[@]} samples)" [ "${#samples[@]}" -eq 22 ]

n=0
for sample in "${samples[@]}"; do
  offset="${sample%% *}" what="${sample#* }"
  n=$((n + 1))
  # Each copy in a folder of its own, as in a downloads folder, beside a
  # file of the user's; started without /dir=, as a user would.
  mkdir -p "$work/c-$n"
  echo "the user's" >"$work/c-$n/keep.txt"
  copy="$work/c-$n/setup.exe"
  cp "$SETUP" "$copy"
  flip_byte "$copy" "$offset"
  run_line "\"C:\\norvale-damaged\\c-$n\\setup.exe\" /S"
  rc=$?
  check "$what (byte $offset changed): silent install exits with 1 (got $rc)" [ "$rc" -eq 1 ]
  check "$what: no uninstall entry" bash -c "! \"\$0\" reg query 'HKCU\\$UNINSTALL_KEY' >/dev/null 2>&1" "$WINE64"
done
sleep 5  # a copy of an uninstaller relocated to the temporary folder would have deleted by now
for n in $(seq "${#samples[@]}"); do
  check "copy $n (${samples[$((n - 1))]#* }): the folder it was saved in is intact" [ -f "$work/c-$n/keep.txt" ]
done

run_line "\"$SETUP_WIN\" /S /dir=\"C:\\norvale-damaged\\whole\""
rc=$?
check "the untouched setup file installs (got $rc)" [ "$rc" -eq 0 ]
check "with every file whole" same_tree "$work/whole"
rm -rf "$work"
"$WINE64" reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
finish
