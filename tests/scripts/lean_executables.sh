#!/usr/bin/env bash
# The shipped executables carry no debug information: setup-stub.exe, the
# setup file made from it and the uninstall.exe an install writes. The debug
# information lies beside the stub in setup-stub.exe.debug, which the stub's
# debug link names with its checksum.
set -uo pipefail
. "$(dirname "$0")/lib/system.bash"
require_throwaway_prefix
require_setup
STUB="$NORVALE_OUT/setup-stub.exe"
DEBUG="$NORVALE_OUT/setup-stub.exe.debug"
OBJDUMP=x86_64-w64-mingw32-objdump

debug_sections() { "$OBJDUMP" -h "$1" | awk '$2 ~ /^\.debug_/ {print $2}'; }
# The debug link: the file name, then (4-aligned) the CRC-32 of that file.
link_matches() {  # exe debug-file
  local section="$WINEPREFIX/debuglink.bin"
  rm -f "$section"
  x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink="$section" "$1" "$WINEPREFIX/copy.tmp" || return 1
  rm -f "$WINEPREFIX/copy.tmp"
  /usr/bin/python3 - "$section" "$2" <<'PY'
import os, sys, zlib
data = open(sys.argv[1], 'rb').read()
name = data.split(b'\0')[0].decode()
crc = int.from_bytes(data[(len(name) + 4) & ~3:][:4], 'little')
ok = name == os.path.basename(sys.argv[2]) and crc == zlib.crc32(open(sys.argv[2], 'rb').read())
print('  debug link', name, hex(crc), 'matches' if ok else 'does not match')
sys.exit(0 if ok else 1)
PY
}

DIR='C:\Norvale Lean\Norvale Lockra'
UDIR="$WINEPREFIX/drive_c/Norvale Lean/Norvale Lockra"
rm -rf "$WINEPREFIX/drive_c/Norvale Lean"
run_setup "/S /dir=\"$DIR\""
check "the install wrote uninstall.exe" [ -f "$UDIR/uninstall.exe" ]

for exe in "$STUB" "$SETUP" "$UDIR/uninstall.exe"; do
  found="$(debug_sections "$exe")"
  check "$(basename "$exe") has no debug sections${found:+ (has $(echo $found))}" [ -z "$found" ]
  check "$(basename "$exe") links to the stub's debug file" link_matches "$exe" "$DEBUG"
done
check "the debug file holds the debug information" bash -c "'$OBJDUMP' -h '$DEBUG' | grep -q ' \.debug_info '"
# A crash address in the program's own code can be read back to its line.
address="$(x86_64-w64-mingw32-nm "$DEBUG" | awk '$2 == "T" && /RunSetup/ {print $1; exit}')"
where="$(x86_64-w64-mingw32-addr2line -e "$DEBUG" "0x${address:-0}")"
check "the stub's address 0x$address reads back as $where" bash -c "grep -q 'app/launch.cpp:[0-9]' <<<'$where'"
echo "setup-stub.exe $(stat -c %s "$STUB") bytes, setup-stub.exe.debug $(stat -c %s "$DEBUG") bytes"

run_line "\"$DIR\\uninstall.exe\" /uninstall /S /dir=\"$DIR\""
rm -rf "$WINEPREFIX/drive_c/Norvale Lean"
finish
