#!/usr/bin/env bash
# A signed setup file writes a signed uninstall.exe: a silent install of a
# setup file packed with a throwaway certificate leaves an uninstall.exe that
# osslsigncode accepts, whose bytes before the certificate table are the
# setup file's image (but for the checksum and the certificate-table entry);
# its relocated copy in the temporary folder is the same file, and the
# uninstall works from it. An unsigned setup file writes an unsigned
# uninstaller; a package whose stored signature does not fit the image
# installs with an unsigned uninstaller and says so in the log.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup
command -v osslsigncode >/dev/null && command -v openssl >/dev/null || { echo "FAIL: osslsigncode or openssl missing"; exit 1; }

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Norvale test" \
  -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1
SIGNED="$WORK/signed-setup.exe"
"$NORVALE_OUT/norvale-pack" build --quiet --stub "$NORVALE_OUT/setup-stub.exe" --input "$NORVALE_OUT/product" \
  --out "$SIGNED" --sign-cert "$WORK/cert.pem" --sign-key "$WORK/key.pem" || { echo "FAIL: signed build"; exit 1; }
win() { "$WINE64" winepath.exe -w "$1" 2>/dev/null | tr -d '\r'; }
LOG="$WORK/setup log.txt"
LOG_WIN="$(win "$LOG")"

verifies() {  # file: osslsigncode accepts it, chained to the test certificate
  osslsigncode verify -CAfile "$WORK/cert.pem" -in "$1" >"$WORK/verify.txt" 2>&1
  grep -q '^Signature verification: ok' "$WORK/verify.txt"
}

# The uninstaller against the setup file: "signed" when it is the image, zero
# padding and a table that ends the file, "unsigned" when it is the image with
# a zero entry; anything else fails.
compare_image() {  # uninstall.exe setup.exe
  /usr/bin/python3 - "$1" "$2" <<'PY'
import struct, sys
u = open(sys.argv[1], 'rb').read(); s = open(sys.argv[2], 'rb').read()
pe = struct.unpack_from('<I', s, 60)[0]; opt = pe + 24
entry = opt + (112 if struct.unpack_from('<H', s, opt)[0] == 0x20B else 96) + 32
checksum = opt + 64
t = s.rfind(b'HLVXPAK1'); p = struct.unpack_from('<Q', s, t - 16)[0]
table, size = struct.unpack_from('<II', u, entry)
masked = lambda b: b[:checksum] + b[checksum + 4:entry] + b[entry + 8:p]
if masked(u) != masked(s): print('image differs'); sys.exit(1)
if table == 0 and size == 0:
    print('unsigned' if len(u) == p else 'unsigned but %d bytes, image %d' % (len(u), p)); sys.exit(0 if len(u) == p else 1)
ok = table == (p + 7) // 8 * 8 and table + size == len(u) and u[p:table] == bytes(table - p)
print('signed: table of %d bytes at %d after an image of %d' % (size, table, p) if ok else 'bad layout'); sys.exit(0 if ok else 1)
PY
}

is_unsigned() { [ "$(compare_image "$1" "$2")" = unsigned ]; }
not_verifies() { ! verifies "$1"; }

install() {  # setup.exe dir
  rm -f "$LOG"
  run_line "\"$(win "$1")\" /S /dir=\"$2\" /log=\"$LOG_WIN\""
}

# 1. Signed setup file: signed uninstaller, the same copy in the temporary folder.
DIR='C:\Norvale Signée\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Signée/Norvale Lockra"
install "$SIGNED" "$DIR"
rc=$?
check "signed setup installs (exit $rc)" [ "$rc" -eq 0 ]
cp "$UDIR/uninstall.exe" "$WORK/uninstall.exe"
check "uninstall.exe: osslsigncode verify accepts it" verifies "$WORK/uninstall.exe"
echo "--- osslsigncode verify uninstall.exe"
grep -E 'PE checksum|message digest|Subject|Signature verification|Succeeded|Failed' "$WORK/verify.txt" | sed 's/^/  /'
check "uninstall.exe: the setup file's image, then the table ($(compare_image "$WORK/uninstall.exe" "$SIGNED"))" \
  compare_image "$WORK/uninstall.exe" "$SIGNED"
check "the log says it was signed" grep -q 'uninstall.exe signed: certificate table of' "$LOG"

UTEMP="$(unix_path "$(known temp)")"
rm -f "$UTEMP"/Norvale-uninstall-*.exe
run_line "\"$DIR\\uninstall.exe\" /S /log=\"$LOG_WIN\""
copied=0
end=$((SECONDS + 30))
while [ "$SECONDS" -lt "$end" ] && [ "$copied" -eq 0 ]; do
  for f in "$UTEMP"/Norvale-uninstall-*.exe; do
    [ -f "$f" ] && cp "$f" "$WORK/relocated.exe" 2>/dev/null && copied=1
  done
  sleep 0.1
done
check "the relocated copy was seen" [ "$copied" -eq 1 ]
check "the relocated copy is uninstall.exe byte for byte" cmp -s "$WORK/relocated.exe" "$WORK/uninstall.exe"
check "the relocated copy verifies" verifies "$WORK/relocated.exe"
end=$((SECONDS + 60))
while [ "$SECONDS" -lt "$end" ] && [ -e "$UDIR" ]; do sleep 0.3; done
check "the uninstall from the signed uninstaller removed the folder" [ ! -e "$UDIR" ]
check "the uninstall entry is gone" bash -c "! \"\$0\" reg query 'HKCU\\$UNINSTALL_KEY' >/dev/null 2>&1" "$WINE64"

# 2. Unsigned setup file: unsigned uninstaller, as before.
DIR='C:\Norvale Simple\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Simple/Norvale Lockra"
install "$SETUP" "$DIR"
check "unsigned setup installs" [ -f "$UDIR/uninstall.exe" ]
check "unsigned setup: uninstall.exe is its image ($(compare_image "$UDIR/uninstall.exe" "$SETUP"))" \
  is_unsigned "$UDIR/uninstall.exe" "$SETUP"
check "unsigned setup: osslsigncode finds no signature" not_verifies "$UDIR/uninstall.exe"

# 3. A stored signature made for another image size, its checksums made to
# match: the install goes through with an unsigned uninstaller and a log line.
UNFIT="$WORK/unfit-setup.exe"
/usr/bin/python3 - "$SIGNED" "$UNFIT" <<'PY' || { echo "FAIL: cannot make the unfit setup file"; exit 1; }
import struct, sys
M = (1 << 64) - 1
P1, P2, P3, P4, P5 = (11400714785074694791, 14029467366897019727, 1609587929392839161,
                      9650029242287828579, 2870177450012600261)
rotl = lambda x, r: ((x << r) | (x >> (64 - r))) & M
def rnd(acc, v): return (rotl((acc + v * P2) & M, 31) * P1) & M
def merge(h, v): return ((h ^ rnd(0, v)) * P1 + P4) & M
def xxh64(d):
    n, i = len(d), 0
    if n >= 32:
        v = [(P1 + P2) & M, P2, 0, (-P1) & M]
        while i + 32 <= n:
            v = [rnd(v[k], struct.unpack_from('<Q', d, i + 8 * k)[0]) for k in range(4)]; i += 32
        h = (rotl(v[0], 1) + rotl(v[1], 7) + rotl(v[2], 12) + rotl(v[3], 18)) & M
        for x in v: h = merge(h, x)
    else:
        h = P5
    h = (h + n) & M
    while i + 8 <= n:
        h = (rotl(h ^ rnd(0, struct.unpack_from('<Q', d, i)[0]), 27) * P1 + P4) & M; i += 8
    if i + 4 <= n:
        h = (rotl(h ^ (struct.unpack_from('<I', d, i)[0] * P1) & M, 23) * P2 + P3) & M; i += 4
    while i < n:
        h = (rotl(h ^ (d[i] * P5) & M, 11) * P1) & M; i += 1
    h ^= h >> 33; h = (h * P2) & M; h ^= h >> 29; h = (h * P3) & M; return h ^ (h >> 32)
f = bytearray(open(sys.argv[1], 'rb').read())
trailer = f.rfind(b'HLVXPAK1') - 16
start = f.rfind(b'HLVXUSIG', 0, trailer)
assert xxh64(bytes(f[start:trailer - 8])) == struct.unpack_from('<Q', f, trailer - 8)[0], 'checksum model'
struct.pack_into('<Q', f, start + 16, struct.unpack_from('<Q', f, start + 16)[0] + 8)
struct.pack_into('<Q', f, trailer - 8, xxh64(bytes(f[start:trailer - 8])))
open(sys.argv[2], 'wb').write(f)
PY
DIR='C:\Norvale Inadaptée\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Inadaptée/Norvale Lockra"
install "$UNFIT" "$DIR"
rc=$?
check "a setup file with an unfit stored signature installs (exit $rc)" [ "$rc" -eq 0 ]
check "its uninstall.exe is the unsigned image ($(compare_image "$UDIR/uninstall.exe" "$UNFIT"))" \
  is_unsigned "$UDIR/uninstall.exe" "$UNFIT"
grep 'not used' "$LOG" | sed 's/^/  /'
check "the log says the stored signature was not used" grep -q "the package's signature for it is not used" "$LOG"

finish
