#!/usr/bin/env bash
# DLLs dropped beside the setup file are never loaded by it. A marker DLL is
# planted under the names of every DLL the program may load late; Wine is told
# to prefer such native files. A careless control program does load it; the
# setup program, in its preview, silent and window runs, must not.
# Programs named like the system tools it starts (icacls, cmd, ping) are
# planted beside the setup file, in the current folder and in the temporary
# folder: none of them may ever run, and the access grant, the relocation of
# the uninstaller and its self-deletion must still work.
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
PROBE="$NORVALE_OUT/fixtures/norvale-probe.exe"
temp_win="$("$WINE64" "$PROBE" known temp 2>/dev/null | tr -d '\r')"
temp_dir="$("$WINE64" winepath.exe -u "$temp_win" 2>/dev/null | tr -d '\r')"
[ -n "$temp_win" ] && [ -d "$temp_dir" ] || { echo "FAIL: no temporary folder"; exit 1; }
tools="icacls cmd ping"
mkdir -p "$dir/cwd"
for t in $tools; do
  for d in "$dir" "$dir/cwd" "$temp_dir"; do cp "$WIN/programs/planted-exe.exe" "$d/$t.exe"; done
done
cd "$dir/cwd"  # the current folder of every run below
[ -f "$NORVALE_OUT/Norvale-Lockra-Setup.exe" ] && cp "$NORVALE_OUT/Norvale-Lockra-Setup.exe" "$dir/"
export WINEDLLOVERRIDES="$(echo $names | tr ' ' ',')=n,b;mscoree,mshtml="
export NORVALE_MARKER_DIR='C:\plant\markers'

"$WINE64" 'C:\plant\load-beside.exe' gdiplus.dll
if [ ! -f "$dir/markers/loaded-gdiplus.dll.txt" ]; then
  echo "control failed: a careless program did not load the planted DLL, so this test proves nothing"
  exit 1
fi
echo "control: a careless program loads the planted gdiplus.dll"
"$WINE64" "$PROBE" run 'icacls.exe /?' >/dev/null 2>&1
if [ ! -f "$dir/markers/started-icacls.exe.txt" ]; then
  echo "control failed: a program started by bare name was not the planted one, so this test proves nothing"
  exit 1
fi
echo "control: a program started by bare name runs the planted icacls.exe"
rm -f "$dir/markers"/*

"$WINE64" 'C:\plant\setup-stub.exe' '/apercu=C:\plant\previews'
echo "preview run: exit $?"
"$WINE64" 'C:\plant\setup-stub.exe' /S /uninstall '/dir=C:\plant\nothing'
echo "silent uninstall run: exit $?"
if [ -f "$dir/Norvale-Lockra-Setup.exe" ]; then
  "$WINE64" 'C:\plant\Norvale-Lockra-Setup.exe' /S '/dir=C:\plant\installed'
  echo "silent install run: exit $?"
  timeout 120 "$WINE64" 'C:\plant\Norvale-Lockra-Setup.exe' /update '/dir=C:\plant\installed'
  echo "window update run: exit $?"
  # Relocation and self-deletion, with the planted tools in the temporary folder.
  rm -f "$temp_dir"/Norvale-uninstall-*.exe
  "$WINE64" 'C:\plant\installed\uninstall.exe' /S
  for _ in $(seq 1 100); do
    [ ! -e "$dir/installed" ] && ! ls "$temp_dir"/Norvale-uninstall-*.exe >/dev/null 2>&1 && break
    sleep 0.3
  done
  [ ! -e "$dir/installed" ] || { echo "FAIL: the relocated uninstall did not remove the folder"; rm -rf "$dir"; exit 1; }
  ! ls "$temp_dir"/Norvale-uninstall-*.exe >/dev/null 2>&1 || { echo "FAIL: the relocated copy did not delete itself"; rm -rf "$dir"; exit 1; }
  echo "install, relocation and self-deletion worked"
fi
cd /
loaded=$(ls "$dir/markers")
for t in $tools; do rm -f "$temp_dir/$t.exe"; done
rm -rf "$dir"
if [ -n "$loaded" ]; then
  echo "planted DLLs were loaded or planted programs started: $loaded"
  exit 1
fi
echo "no planted DLL was loaded and no planted program started"
