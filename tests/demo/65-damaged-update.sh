#!/usr/bin/env bash
# A silent update from a damaged copy of the setup file fails and leaves the
# installed version whole (the files and their sizes before and after); the
# good file then updates as usual.
set -uo pipefail
. "$NORVALE_ROOT/tests/scripts/lib/system.bash"
require_setup
DIR="$(known localappdata)\\Programs\\Norvale Lockra"
UDIR="$(unix_path "$DIR")"
DAMAGED="$WINEPREFIX/drive_c/Norvale-Lockra-Setup-abime.exe"
/usr/bin/python3 - "$SETUP" "$DAMAGED" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
end = data.rfind(b'HLVXPAK1') - 16
p = struct.unpack_from('<Q', data, end)[0]
at = p + 8
length = struct.unpack_from('<I', data, at)[0]
at += 4 + length + 8
count = struct.unpack_from('<I', data, at)[0]
at += 4
for _ in range(count):
    at += 2 + struct.unpack_from('<H', data, at)[0] + 8
blocks = struct.unpack_from('<I', data, at)[0]
at += 4
for _ in range(blocks - 1):
    at += 8 + struct.unpack_from('<I', data, at + 4)[0]
data[at + 8 + 26] ^= 0x40  # the last block's first chunk now claims more bytes than it holds
open(sys.argv[2], 'wb').write(data)
print(f"--- damaged copy: one byte changed in the last of {blocks} block(s)")
PY
listing() { (cd "$UDIR" && find . -type f -printf '%10s  %P\n' | sort -k2); }
echo "--- installed files before"
before="$(listing)"
printf '%s\n' "$before"
echo "--- Norvale-Lockra-Setup-abime.exe /S /update"
run_line "\"C:\\Norvale-Lockra-Setup-abime.exe\" /S /update"
echo "exit code: $?"
echo "--- installed files after the failed update"
after="$(listing)"
printf '%s\n' "$after"
[ "$before" = "$after" ] && echo "(the same files, the same sizes)" || echo "(THE FOLDER CHANGED)"
echo "--- DisplayVersion: $(reg_value "$UNINSTALL_KEY" DisplayVersion | cut -f3)"
rm -f "$DAMAGED"
echo "--- Norvale-Lockra-Setup.exe /S /update (the good file)"
run_setup "/S /update"
echo "exit code: $?"
