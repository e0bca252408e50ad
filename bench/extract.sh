#!/usr/bin/env bash
# Extraction benchmark, inside the Wine prefix that `./run bench extract` made.
# Packs a deterministic synthetic product of about 96 MiB (text, machine-code-
# like binaries, incompressible data) behind setup-stub.exe, then measures in
# the same run, best of a few rounds each:
#   - the setup program's extraction into a fresh folder of the prefix,
#   - the decoding alone of the same blocks (same decoder, same buffers),
# and the peak working set of the extracting process. Each round also
# extracts a copy of the setup file without its integrity section (which
# installs unchecked), so that the checks' cost is measured in the same run.
# MBps is the wall-clock throughput of the best extraction round, and R the
# ratio of the best wall-clock times (decoding alone / extraction): the
# extraction writes on a second thread, so only wall-clock time tells its
# throughput. Wall-clock times swing with other processes' load: run it on a
# quiet machine (the CPU times, printed on stderr, show whether it was).
# The packed setup file is kept in the build folder for the next run while
# this script and the packer are unchanged (packing takes minutes).
# The update case extracts the same package over the copy the extraction
# just installed, so that every file is replaced (moved aside, then deleted
# once all are written).
# Last lines: extract: MBps=X vs_decode_only=R peak_MiB=M
#             extract-update: MBps=X vs_decode_only=R peak_MiB=M
# The cost of the integrity checks is measured in the same run against a copy
# without the section, and printed on stderr.
set -euo pipefail
OUT="${NORVALE_OUT:?run through ./run bench extract}"
ROUNDS="${BENCH_ROUNDS:-7}"
for f in setup-stub.exe norvale-pack extract-bench.exe; do
  [ -e "$OUT/$f" ] || { echo "bench extract: $OUT/$f is not built" >&2; exit 1; }
done
[ -n "${WINEPREFIX:-}" ] || { echo "bench extract: no Wine prefix (use ./run bench extract)" >&2; exit 1; }
WINE="${WINE64:-/usr/lib/wine/wine64}"
work="$WINEPREFIX/drive_c/norvale-bench"
rm -rf "$work"
mkdir -p "$work"
cache="${NORVALE_BUILD:-$OUT/..}/bench-extract"
key="$(cat "$0" "$OUT/norvale-pack" | sha256sum | cut -c1-16)"
cached="$cache/setup-$key.exe"

if [ ! -e "$cached" ]; then
mkdir -p "$work/product"

python3 - "$work/product" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20261209)
def write(name, data):
    path = os.path.join(root, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
words = [w.encode() for w in ("coffre mot de passe code Lockra vault token jeton secret compte "
         "utilisateur fenêtre paramètre réglage synchronisation chiffrement <div> </div> {\"id\": 42, "
         "\"name\": function return const let var import export 0 1 2 3 4 5 6 7 8 9").split()]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b" ".join(rng.choices(words, k=4096)) + b"\n"
    return bytes(out[:n])
# Machine-code-like: a small alphabet of opcode bytes with frequent E8 calls.
opcodes = bytes([0x48, 0x8B, 0x89, 0xE8, 0x00, 0x00, 0xFF, 0x15, 0x45, 0x33, 0xC0, 0xC3, 0x4C, 0x8D, 0x0F, 0x85] * 16)
def code(n):
    return rng.randbytes(n).translate(opcodes)
MiB = 1 << 20
write("Norvale-Lockra.exe", code(12 * MiB))
for i in range(6):
    write(f"lib/module{i}.dll", code(3 * MiB + 4096 * i))
for i in range(180):
    write(f"ui/page{i:03}.html", text(int(MiB * (0.05 + (i % 10) * 0.03))))
write("ui/catalogue.json", text(9 * MiB))
write("data/archive.bin", rng.randbytes(18 * MiB))
for i in range(3):
    write(f"data/media{i}.bin", rng.randbytes(2 * MiB))
for i in range(5):
    write(f"empty/e{i}.txt", b"")
PY

"$OUT/norvale-pack" build --stub "$OUT/setup-stub.exe" --input "$work/product" --version bench \
  --out "$work/setup.exe" >&2
rm -rf "$work/product" "$cache"
mkdir -p "$cache"
cp "$work/setup.exe" "$cached"
else
  echo "bench extract: reusing $cached" >&2
  cp "$cached" "$work/setup.exe"
fi
win_setup='C:\norvale-bench\setup.exe'
# The same package without its integrity section: the bytes up to the end of
# the last block, then a trailer that says so.
python3 - "$work/setup.exe" "$work/unchecked.exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
p, length = struct.unpack_from("<QQ", data, len(data) - 24)
assert data[-8:] == b"HLVXPAK1"
at = p + 8
at += 4 + struct.unpack_from("<I", data, at)[0] + 8
count = struct.unpack_from("<I", data, at)[0]
at += 4
for _ in range(count):
    at += 2 + struct.unpack_from("<H", data, at)[0] + 8
blocks = struct.unpack_from("<I", data, at)[0]
at += 4
for _ in range(blocks):
    at += 8 + struct.unpack_from("<I", data, at + 4)[0]
assert data[at:at + 8] == b"HLVXSUMS", "the setup file has no integrity section"
open(sys.argv[2], "wb").write(data[:at] + struct.pack("<QQ", p, at - p) + b"HLVXPAK1")
PY
win_unchecked='C:\norvale-bench\unchecked.exe'

best() { sort -n | head -1; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p"; }
decode_times=() extract_times=() decode_cpu=() extract_cpu=() peaks=() bytes=0 unchecked_times=()
update_times=() update_cpu=() update_peaks=()
for round in $(seq "$ROUNDS"); do
  line="$("$WINE" "$OUT/extract-bench.exe" decode "$win_setup")"
  echo "round $round: $line" >&2
  decode_times+=("$(echo "$line" | field seconds)")
  decode_cpu+=("$(echo "$line" | field cpu_seconds)")
  rm -rf "$work/out"
  line="$("$WINE" "$OUT/extract-bench.exe" extract "$win_setup" 'C:\norvale-bench\out')"
  echo "round $round: $line" >&2
  extract_times+=("$(echo "$line" | field seconds)")
  extract_cpu+=("$(echo "$line" | field cpu_seconds)")
  peaks+=("$(echo "$line" | field peak_bytes)")
  bytes="$(echo "$line" | field bytes)"
  line="$("$WINE" "$OUT/extract-bench.exe" extract "$win_setup" 'C:\norvale-bench\out')"
  echo "round $round (update): $line" >&2
  update_times+=("$(echo "$line" | field seconds)")
  update_cpu+=("$(echo "$line" | field cpu_seconds)")
  update_peaks+=("$(echo "$line" | field peak_bytes)")
  rm -rf "$work/out"
  line="$("$WINE" "$OUT/extract-bench.exe" extract "$win_unchecked" 'C:\norvale-bench\out')"
  echo "round $round (no integrity section): $line" >&2
  unchecked_times+=("$(echo "$line" | field seconds)")
done
rm -rf "$work"
decode_best="$(printf '%s\n' "${decode_times[@]}" | best)"
extract_best="$(printf '%s\n' "${extract_times[@]}" | best)"
decode_cpu_best="$(printf '%s\n' "${decode_cpu[@]}" | best)"
extract_cpu_best="$(printf '%s\n' "${extract_cpu[@]}" | best)"
peak_max="$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)"
unchecked_best="$(printf '%s\n' "${unchecked_times[@]}" | best)"
python3 -c "import sys; e, u = map(float, sys.argv[1:]); print(f'wall clock without the integrity section: {u:.3f} s (checks cost {(e / u - 1) * 100:+.1f} %)', file=sys.stderr)" "$extract_best" "$unchecked_best"
update_best="$(printf '%s\n' "${update_times[@]}" | best)"
update_cpu_best="$(printf '%s\n' "${update_cpu[@]}" | best)"
update_peak_max="$(printf '%s\n' "${update_peaks[@]}" | sort -n | tail -1)"
report() {  # label extract-seconds extract-cpu peak
python3 - "$1" "$bytes" "$2" "$decode_best" "$3" "$decode_cpu_best" "$4" <<'PY'
import sys
label, size = sys.argv[1], int(sys.argv[2])
extract, decode, extract_cpu, decode_cpu = map(float, sys.argv[3:7])
peak = int(sys.argv[7])
mbps = size / extract / 1e6
print(f"{label}: wall clock {extract:.3f} s against decoding alone {decode:.3f} s; "
      f"CPU time {extract_cpu:.3f} s (both threads) against {decode_cpu:.3f} s", file=sys.stderr)
print(f"{label}: MBps={mbps:.1f} vs_decode_only={decode / extract:.3f} peak_MiB={peak / 1048576:.1f}")
PY
}
report extract "$extract_best" "$extract_cpu_best" "$peak_max"
report extract-update "$update_best" "$update_cpu_best" "$update_peak_max"
