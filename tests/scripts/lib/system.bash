# Shared by the end-to-end scripts and demo stages that install and
# uninstall the stand-in product inside the throwaway Wine prefix.
# Sourced, not run. Needs WINEPREFIX, WINE64, NORVALE_OUT (set by ./run).

SETUP="$NORVALE_OUT/Norvale-Lockra-Setup.exe"
PROBE="$NORVALE_OUT/fixtures/norvale-probe.exe"
UNINSTALL_KEY='Software\Microsoft\Windows\CurrentVersion\Uninstall\Norvale Lockra'
RUN_KEY='Software\Microsoft\Windows\CurrentVersion\Run'
FAILURES=0

fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }
check() {  # check "what" command...
  local what="$1"; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  if [ "$FAILURES" -eq 0 ]; then echo "all checks passed"; exit 0; fi
  echo "$FAILURES check(s) failed"; exit 1
}

# Refuse to run anywhere but a temporary prefix with a temporary HOME: these
# scripts delete folders.
require_throwaway_prefix() {
  case "${WINEPREFIX:-}" in
    /tmp/*) ;;
    *) echo "FAIL: WINEPREFIX must be a temporary prefix under /tmp (use ./run test)"; exit 1 ;;
  esac
  case "${HOME:-}" in
    /tmp/*) ;;
    *) echo "FAIL: HOME must be a temporary folder (use ./run test)"; exit 1 ;;
  esac
}

# The setup file is made by tools/make-setup.sh once the stub and the packer
# exist; until then these scripts fail on purpose.
require_setup() {
  if [ ! -f "$SETUP" ]; then
    echo "FAIL: $SETUP has not been built (stub or packer missing); nothing to test"
    exit 1
  fi
  if [ ! -f "$PROBE" ]; then
    echo "FAIL: $PROBE has not been built"
    exit 1
  fi
  SETUP_WIN="$("$WINE64" winepath.exe -w "$SETUP" 2>/dev/null | tr -d '\r')"
}


# Windows path -> Linux path inside the prefix.
unix_path() { "$WINE64" winepath.exe -u "$1" 2>/dev/null | tr -d '\r'; }

probe() { "$WINE64" "$PROBE" "$@" 2>/dev/null | tr -d '\r'; }

known() { probe known "$1"; }

# One value of the uninstall entry as "TYPE<TAB>SIZE<TAB>DATA".
reg_value() {  # key name
  probe reg "$1" | awk -F'\t' -v n="$2" '$1 == n { print $2 "\t" $3 "\t" $4 }'
}

reg_key_exists() { "$WINE64" reg query "HKCU\\$1" >/dev/null 2>&1; }

# Runs a Windows command line exactly as written (quotes included) and
# waits for it; the exit code is the program's own.
run_line() { "$WINE64" "$PROBE" run "$1" >/dev/null 2>&1; }

# Runs the setup program with the given argument text, e.g.
#   run_setup "/S /dir=\"C:\Dossier avec espaces\""
run_setup() { run_line "\"$SETUP_WIN\" $1"; }
# The same, leaving its exit code in RC and its duration (s) in ELAPSED.
timed_setup() {
  local t0=$SECONDS
  run_setup "$1"
  RC=$?
  ELAPSED=$((SECONDS - t0))
}

# The stand-in's log (UTF-8 lines "start pid=N args=[...] ...").
standin_log_init() {
  STANDIN_LOG_WIN='C:\NorvaleStandin\e2e.log'
  export NORVALE_STANDIN_LOG="$STANDIN_LOG_WIN"
  mkdir -p "$WINEPREFIX/drive_c/NorvaleStandin"
  STANDIN_LOG="$WINEPREFIX/drive_c/NorvaleStandin/e2e.log"
  : >"$STANDIN_LOG"
}
log_count() { grep -c -- "$1" "$STANDIN_LOG" 2>/dev/null || true; }
wait_log_count() {  # pattern count seconds
  local end=$((SECONDS + $3))
  while [ "$SECONDS" -lt "$end" ]; do
    [ "$(log_count "$1")" -ge "$2" ] && return 0
    sleep 0.2
  done
  [ "$(log_count "$1")" -ge "$2" ]
}

# Starts the installed product in the background, the way a user would.
start_product() {  # windows-exe [args...]
  "$WINE64" "$@" >/dev/null 2>&1 &
}

# The demo's log ("/log="), shared by its silent install, update and
# uninstall; show_demo_log prints its lines from a line number on.
DEMO_LOG_WIN='C:\Norvale Demo\setup.log'
DEMO_LOG="$WINEPREFIX/drive_c/Norvale Demo/setup.log"
demo_log_lines() { if [ -f "$DEMO_LOG" ]; then wc -l <"$DEMO_LOG"; else echo 0; fi; }
show_demo_log() {  # first-line
  echo "--- $DEMO_LOG_WIN, from line $1"
  tail -n +"$1" "$DEMO_LOG" | tr -d '\r' | sed 's/^/  /'
}

# Sum of the sizes of the product files that were packed.
product_total_bytes() { find "$NORVALE_OUT/product" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }

# Every packed file is in the folder with the same bytes.
same_tree() {  # linux-install-dir
  local f rel ok=0
  while IFS= read -r f; do
    rel="${f#"$NORVALE_OUT/product/"}"
    if ! cmp -s "$f" "$1/$rel"; then echo "  differs or missing: $rel"; ok=1; fi
  done < <(find "$NORVALE_OUT/product" -type f)
  return $ok
}

# Changes one byte of a file in place (XOR 0x5A), as damage in transit would.
flip_byte() {  # file offset
  /usr/bin/python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2])); b = f.read(1); f.seek(int(sys.argv[2])); f.write(bytes([b[0] ^ 0x5A]))' "$1" "$2"
}
