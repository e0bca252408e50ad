#!/usr/bin/env bash
# The installer's screens: the seven previews exported by "/apercu=" into
# $NORVALE_OUT/previews/, and, when a display is there (or with
# `./run demo --window`), the real window opened and photographed.
set -uo pipefail
. "$(dirname "$0")/../scripts/lib/window.bash"
WINE="${WINE64:-/usr/lib/wine/wine64}"
out="$NORVALE_OUT/previews"
rm -rf "$out" && mkdir -p "$out"
# Exporting previews deletes nothing, so a Z: (host) path is fine here.
"$WINE" "$NORVALE_OUT/setup-stub.exe" "/apercu=Z:${out//\//\\}" || { echo "preview export failed"; exit 1; }
for f in "$out"/*.png; do
  echo "preview: $(basename "$f") $(identify -format '%w x %h' "$f" 2>/dev/null)"
done

if [ -z "${DISPLAY:-}" ] || [ "${NORVALE_DEMO_WINDOW:-0}" != 1 ]; then
  echo "the live window is skipped (./run demo --window opens it)"
  exit 0
fi
setup="$NORVALE_OUT/Norvale-Lockra-Setup.exe"
[ -f "$setup" ] || setup="$NORVALE_OUT/setup-stub.exe"
mkdir -p "$WINEPREFIX/drive_c/demo"
cp "$setup" "$WINEPREFIX/drive_c/demo/setup.exe"
"$WINE" 'C:\demo\setup.exe' '/dir=C:\demo\Norvale Lockra' &
pid=$!
wid=$(find_window 'Norvale Lockra — ')
[ -n "$wid" ] || { echo "the window did not open"; kill $pid; exit 1; }
sleep 1
import -window root "$out/window-welcome.png"
echo "screenshot: window-welcome.png"
eval "$(xdotool getwindowgeometry --shell "$wid")"
# "Installer", then the Done screen a moment later.
xdotool mousemove $((X + 375 * WIDTH / 780)) $((Y + 409 * HEIGHT / 470)) click 1
sleep 4
import -window root "$out/window-done.png"
echo "screenshot: window-done.png"
xdotool key Escape 2>/dev/null
xdotool mousemove $((X + 650 * WIDTH / 780)) $((Y + 409 * HEIGHT / 470)) click 1  # "Fermer"
for _ in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
kill -0 $pid 2>/dev/null && kill $pid
wait $pid
echo "window closed with exit code $?"
