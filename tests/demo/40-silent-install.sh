#!/usr/bin/env bash
# A silent install into the default folder, and what it wrote: the files,
# the uninstall entry, the shortcuts.
set -uo pipefail
. "$NORVALE_ROOT/tests/scripts/lib/system.bash"
require_setup
standin_log_init
mkdir -p "$(dirname "$DEMO_LOG")"
rm -f "$DEMO_LOG"
echo "--- Norvale-Lockra-Setup.exe /S /log=\"$DEMO_LOG_WIN\""
run_setup "/S /log=\"$DEMO_LOG_WIN\""
echo "exit code: $?"
show_demo_log 1
DIR="$(known localappdata)\\Programs\\Norvale Lockra"
echo "--- files in $DIR"
(cd "$(unix_path "$DIR")" && find . -type f -printf '%10s  %P\n' | sort -k2)
echo "--- install-record.txt: what the product owns there (an uninstall deletes only that)"
sed 's/\r$//; s/^/  /' "$(unix_path "$DIR")/install-record.txt"
echo "--- wine64 reg query HKCU\\$UNINSTALL_KEY"
out="$("$WINE64" reg query "HKCU\\$UNINSTALL_KEY" 2>/dev/null | tr -d '\r' | sed '/^$/d')"
# reg writes in the console's OEM code page; show it as UTF-8.
printf '%s\n' "$out" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 || out="$(printf '%s\n' "$out" | iconv -f CP850 -t UTF-8)"
printf '%s\n' "$out"
echo "--- Start-menu shortcut: $(known programs)\\Norvale Lockra.lnk"
probe lnk "$(known programs)\\Norvale Lockra.lnk" | sed 's/^/  /'
if [ -e "$(unix_path "$(known desktop)\\Norvale Lockra.lnk")" ]; then
  echo "--- Desktop shortcut: present"
else
  echo "--- Desktop shortcut: none (a silent install never makes one)"
fi
