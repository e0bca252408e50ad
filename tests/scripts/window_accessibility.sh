#!/usr/bin/env bash
# The installer window as a screen reader and a keyboard-only user meet it:
# a separate program (msaa-client) reads the accessible tree of each screen
# from another process, checks it against its table, hit-tests it, uses the
# default actions, and installs with the keyboard alone while it listens to
# the window's events. Needs the packed setup file and a display.
set -uo pipefail
. "$(dirname "$0")/lib/window.bash"
WINE="${WINE64:-/usr/lib/wine/wine64}"
SETUP="$NORVALE_OUT/Norvale-Lockra-Setup.exe"
CLIENT="$NORVALE_BUILD/win/programs/msaa-client.exe"
for f in "$SETUP" "$CLIENT"; do [ -f "$f" ] || { echo "FAIL: $f is missing"; exit 1; }; done
[ -n "${DISPLAY:-}" ] || { echo "FAIL: no display"; exit 1; }

C="$WINEPREFIX/drive_c"
work="$C/a11y"
rm -rf "$work" && mkdir -p "$work"
cp "$SETUP" "$work/setup.exe"
cp "$CLIENT" "$work/client.exe"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
client() { "$WINE" 'C:\a11y\client.exe' "$@" 2>/dev/null | tr -d '\r' | tee "$work/client.out"; return "${PIPESTATUS[0]}"; }
PID=""
start_setup() { "$WINE" 'C:\a11y\setup.exe' "$@" & PID=$!; }
run_client() { client "$@" || failures=$((failures + 1)); }
PROBE="$NORVALE_OUT/fixtures/norvale-probe.exe"
DESKTOP_LNK="$("$WINE" winepath.exe -u "$("$WINE" "$PROBE" known desktop 2>/dev/null | tr -d '\r')\\Norvale Lockra.lnk" 2>/dev/null | tr -d '\r')"
rm -f "$DESKTOP_LNK"

# --- install Welcome, then the keyboard alone installs; Done ------------------
start_setup '/dir=C:\a11y\one' '/log=C:\a11y\one.log'
run_client tree install-welcome
run_client keyboard
[ -e "$work/one/Norvale-Lockra.exe" ] && pass "the keyboard-only install put the product in place" || fail "no product after the keyboard-only install"
[ ! -e "$DESKTOP_LNK" ] && pass "the unticked row left out the Desktop shortcut" || fail "Desktop shortcut made though unticked by Space"
run_client tree install-done
run_client press escape
wait_exit 0 "Escape on Done"
grep -qF 'started "C:\a11y\one\Norvale-Lockra.exe"' "$work/one.log" && fail "the product was started though Alt+L unticked it" \
  || pass "Alt+L's unticked box started nothing on leaving Done"

# --- Progress: a copy of the product that ignores the quit request holds it ------
"$WINE" 'C:\a11y\one\Norvale-Lockra.exe' --ignore-quit &
sleep 1.5
start_setup '/dir=C:\a11y\one'
run_client press enter
run_client tree progress
client tree install-done >/dev/null 2>&1  # waits for Done
run_client press escape
wait_exit 0 "the update of the folder ends on Done"
"$WINE" taskkill /IM Norvale-Lockra.exe /F >/dev/null 2>&1

# --- uninstall Welcome -------------------------------------------------------------
start_setup /uninstall '/dir=C:\a11y\none'
run_client tree uninstall-welcome
run_client press escape
wait_exit 0 "Escape on uninstall Welcome"

# --- Error ---------------------------------------------------------------------------
mkdir -p "$work/err/LISEZMOI.txt"  # a folder where a payload file must go: the write fails
start_setup '/dir=C:\a11y\err'
run_client press enter alert
run_client tree error
run_client press escape
wait_exit 1 "closing on Error"

echo "failures: $failures"
[ "$failures" = 0 ]
