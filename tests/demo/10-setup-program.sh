#!/usr/bin/env bash
# What was built (the stub ships stripped; its debug information is the
# .debug file beside it), and the setup program without package started silently: it
# has nothing to install, so it runs as an uninstaller of an empty folder.
set -uo pipefail
cd "$NORVALE_OUT"
for f in setup-stub.exe setup-stub.exe.debug Norvale-Lockra-Setup.exe norvale-pack; do
  [ -f "$f" ] && printf '%-28s %10d bytes\n' "$f" "$(stat -c %s "$f")"
done
echo
x86_64-w64-mingw32-objdump -p setup-stub.exe | awk '/^The Import Tables/{t=1} t && /DLL Name:/{printf "%s ", $3} END{print ""}' |
  sed 's/^/setup-stub.exe imports only: /'
mkdir -p "$WINEPREFIX/drive_c/demo-empty"
"$WINE64" "$NORVALE_OUT/setup-stub.exe" /S '/dir=C:\demo-empty'
echo "setup-stub.exe /S (no package, so an uninstall of C:\\demo-empty): exit code $?"
