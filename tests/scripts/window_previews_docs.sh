#!/usr/bin/env bash
# The screens in docs/previews/ are what the program draws today: a fresh
# "/apercu=" export must match them pixel for pixel (every pixel of every
# image, alpha included; the PNG encoding itself may differ). A screen that
# changes without new images fails here.
#
# The Welcome screens show the default folder, which contains the user's
# name: the export runs with the local application-data folder pinned to
# C:\users\Camille\AppData\Local, so the images do not depend on who runs it.
# To regenerate the images after a deliberate change:
#   NORVALE_UPDATE_PREVIEWS=1 ./run test window_previews_docs
# The high-contrast screens ("/contraste") are kept and compared the same way,
# in docs/previews/contraste/.
set -euo pipefail
WINE="${WINE64:-/usr/lib/wine/wine64}"
DOCS="$NORVALE_ROOT/docs/previews"
SHELL_FOLDERS='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
dir="$WINEPREFIX/drive_c/previews-docs"
rm -rf "$dir"
mkdir -p "$WINEPREFIX/drive_c/users/Camille/AppData/Local"

original="$("$WINE" reg query "$SHELL_FOLDERS" /v 'Local AppData' 2>/dev/null | tr -d '\r' |
  awk -F'    ' '/Local AppData/ {print $4}')"
"$WINE" reg add "$SHELL_FOLDERS" /v 'Local AppData' /t REG_EXPAND_SZ /d 'C:\users\Camille\AppData\Local' /f >/dev/null 2>&1
restore() {
  "$WINE" reg add "$SHELL_FOLDERS" /v 'Local AppData' /t REG_EXPAND_SZ \
    /d "${original:-%USERPROFILE%\\AppData\\Local}" /f >/dev/null 2>&1
}
trap restore EXIT
# One export and its stored images: the default one, then the same screens
# as a high-contrast theme paints them ("/contraste", in docs/previews/contraste/).
check() {  # Windows folder, Linux folder, stored folder, extra switch
  "$WINE" "$NORVALE_OUT/setup-stub.exe" "/apercu=$1" ${4:+"$4"}
  if [ "${NORVALE_UPDATE_PREVIEWS:-0}" = 1 ]; then
    mkdir -p "$3"
    rm -f "$3"/*.png
    cp "$2"/*.png "$3"/
    echo "$3 regenerated"
  fi
  compare "$2" "$3"
}

compare() {
/usr/bin/python3 - "$1" "$2" <<'PY'
import os, sys
from PIL import Image

fresh, docs = sys.argv[1], sys.argv[2]
names = sorted(os.listdir(fresh))
assert len(names) == 7, f"the export wrote {names}"
assert sorted(n for n in os.listdir(docs) if n.endswith(".png")) == names, \
    f"docs/previews/ holds {sorted(os.listdir(docs))}, the export {names}"
stale = []
for n in names:
    a, b = Image.open(os.path.join(fresh, n)), Image.open(os.path.join(docs, n))
    if a.size != b.size:
        stale.append(f"{n}: {b.size} in docs, {a.size} exported")
        continue
    pa, pb = a.convert("RGBA").tobytes(), b.convert("RGBA").tobytes()
    if pa != pb:
        differing = sum(1 for i in range(0, len(pa), 4) if pa[i:i + 4] != pb[i:i + 4])
        stale.append(f"{n}: {differing} pixels differ")
    else:
        print(f"{n}: identical pixels")
if stale:
    print("docs/previews/ is stale (NORVALE_UPDATE_PREVIEWS=1 ./run test window_previews_docs):")
    print("\n".join("  " + s for s in stale))
    sys.exit(1)
print("docs/previews/ shows what the program draws")
PY
}

check 'C:\previews-docs' "$dir" "$DOCS"
rm -rf "$WINEPREFIX/drive_c/previews-contrast"
check 'C:\previews-contrast' "$WINEPREFIX/drive_c/previews-contrast" "$DOCS/contraste" /contraste
