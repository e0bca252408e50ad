#!/usr/bin/env bash
# The setup program imports only DLLs that Windows always loads from System32,
# and is an x86-64 GUI program. Every other DLL is delay-loaded, after the
# entry point has limited the DLL search to System32.
set -euo pipefail
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll shlwapi.dll comdlg32.dll msvcrt.dll"
status=0
for exe in "$NORVALE_OUT/setup-stub.exe" "$NORVALE_OUT/Norvale-Lockra-Setup.exe"; do
  if [ ! -f "$exe" ]; then
    [ "$(basename "$exe")" = setup-stub.exe ] && { echo "missing $exe"; exit 1; }
    continue
  fi
  dump="$(x86_64-w64-mingw32-objdump -p "$exe")"
  grep -q "^Magic.*020b" <<<"$dump" || { echo "$exe: not PE32+"; status=1; }
  grep -q "^Subsystem.*00000002" <<<"$dump" || { echo "$exe: not a GUI program"; status=1; }
  grep -q "file format pei-x86-64" <<<"$dump" || { echo "$exe: not x86-64"; status=1; }
  static=$(awk '/^The Import Tables/{t=1} t && /DLL Name:/{print tolower($3)}' <<<"$dump")
  echo "$(basename "$exe") imports: $(echo $static)"
  [ -n "$static" ] || { echo "no import table found"; status=1; }
  for dll in $static; do
    if ! grep -qw "$dll" <<<"$allowed"; then
      echo "$exe imports $dll statically"
      status=1
    fi
  done
  grep -q "SetDefaultDllDirectories" <<<"$dump" || { echo "$exe does not call SetDefaultDllDirectories"; status=1; }
done
exit $status
