#!/usr/bin/env bash
# DLLs dropped beside the setup file are never loaded by it. A marker DLL is
# planted under the names of every DLL the program may load late; Wine is told
# to prefer such native files. A careless control program does load it; the
# setup program, in its preview, silent and window runs, must not.
set -uo pipefail
WIN="$NORVALE_BUILD/win"
dir="$WINEPREFIX/drive_c/plant"
rm -rf "$dir"
mkdir -p "$dir/markers"
# The DLLs this program loads late, and one that GDI+ loads in turn. Not
# planted: version.dll and shcore.dll, which Wine's own gdi32 and shlwapi
# import when the process starts, before any code of the program runs (on
# Windows shcore is a known DLL and gdi32 does not import version.dll).
names="gdiplus dwmapi uxtheme cabinet windowscodecs"
for n in $names; do cp "$WIN/programs/planted.dll" "$dir/$n.dll"; done
cp "$WIN/programs/load-beside.exe" "$NORVALE_OUT/setup-stub.exe" "$dir/"
[ -f "$NORVALE_OUT/Norvale-Lockra-Setup.exe" ] && cp "$NORVALE_OUT/Norvale-Lockra-Setup.exe" "$dir/"
export WINEDLLOVERRIDES="$(echo $names | tr ' ' ',')=n,b;mscoree,mshtml="
export NORVALE_MARKER_DIR='C:\plant\markers'

"$WINE64" 'C:\plant\load-beside.exe' gdiplus.dll
if [ ! -f "$dir/markers/loaded-gdiplus.dll.txt" ]; then
  echo "control failed: a careless program did not load the planted DLL, so this test proves nothing"
  exit 1
fi
echo "control: a careless program loads the planted gdiplus.dll"
rm -f "$dir/markers"/*

"$WINE64" 'C:\plant\setup-stub.exe' '/apercu=C:\plant\previews'
echo "preview run: exit $?"
"$WINE64" 'C:\plant\setup-stub.exe' /S '/dir=C:\plant\nothing'
echo "silent uninstall run: exit $?"
if [ -f "$dir/Norvale-Lockra-Setup.exe" ]; then
  "$WINE64" 'C:\plant\Norvale-Lockra-Setup.exe' /S '/dir=C:\plant\installed'
  echo "silent install run: exit $?"
  timeout 120 "$WINE64" 'C:\plant\Norvale-Lockra-Setup.exe' /update '/dir=C:\plant\installed'
  echo "window update run: exit $?"
fi
loaded=$(ls "$dir/markers")
rm -rf "$dir"
if [ -n "$loaded" ]; then
  echo "planted DLLs were loaded: $loaded"
  exit 1
fi
echo "no planted DLL was loaded"
