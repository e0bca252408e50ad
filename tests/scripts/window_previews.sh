#!/usr/bin/env bash
# The preview export: "/apercu=" writes exactly the seven screens as
# 1560 x 940 PNG images, and they show what each screen must show.
set -euo pipefail
WINE="${WINE64:-/usr/lib/wine/wine64}"
dir="$WINEPREFIX/drive_c/previews"
rm -rf "$dir"
"$WINE" "$NORVALE_OUT/setup-stub.exe" '/apercu=C:\previews'
echo "preview run: exit 0"
# A second export, a moment later, gives the same images: nothing in them
# follows the clock.
sleep 1
rm -rf "$dir.again"
"$WINE" "$NORVALE_OUT/setup-stub.exe" '/apercu=C:\previews.again'
for f in "$dir"/*.png; do
  cmp -s "$f" "$dir.again/$(basename "$f")" || { echo "FAILED: $(basename "$f") differs between two exports"; exit 1; }
done
echo "two exports give identical images"

/usr/bin/python3 - "$dir" <<'PY'
import os, sys
from PIL import Image

folder = sys.argv[1]
expected = ["06-accueil", "07-progression", "08-termine", "09-desinstallation",
            "10-desinstalle", "11-erreur", "12-mise-a-jour"]
names = sorted(os.listdir(folder))
assert names == [n + ".png" for n in expected], f"files: {names}"
images = {}
for n in expected:
    im = Image.open(os.path.join(folder, n + ".png"))
    assert im.format == "PNG" and im.size == (1560, 940), f"{n}: {im.format} {im.size}"
    images[n] = im.convert("RGB")
print("seven PNG images of 1560 x 940:", ", ".join(expected))

def bright(im, box, level=120):
    """Pixels in the box (layout units, scale 2) brighter than `level` on every channel."""
    x0, y0, x1, y1 = (int(v * 2) for v in box)
    return sum(1 for x in range(x0, x1) for y in range(y0, y1)
               if min(im.getpixel((x, y))) > level)

# The close cross lives in (751, 15, 765, 29); the minimise bar in (707, 22, 721, 23).
close_box = (749, 13, 767, 31)
for n in expected:
    has_close = bright(images[n], close_box) > 10
    progress = n in ("07-progression", "12-mise-a-jour")
    assert has_close != progress, f"{n}: close button {'shown' if has_close else 'missing'}"
    assert bright(images[n], (705, 20, 723, 25)) > 5, f"{n}: no minimise button"
print("close button on every screen but the two Progress images; minimise everywhere")

# "Oups…" in pink (colorAccent 0xEC4899) on the error image, not on the others.
def pink(im, box):
    x0, y0, x1, y1 = (int(v * 2) for v in box)
    return sum(1 for x in range(x0, x1) for y in range(y0, y1)
               if (lambda p: p[0] > 190 and p[1] < 110 and p[2] > 110 and p[0] > p[2])(im.getpixel((x, y))))
title = (338, 62, 460, 100)
assert pink(images["11-erreur"], title) > 400, "error title is not pink"
assert pink(images["08-termine"], title) < 100
print("pink \"Oups\u2026\" title on the error image")

# The bar: 64.375 % of the 400-unit track. The white head disc is centred
# one unit past the end of the fill (hx + 10 with hx = 340 + fill - 9).
for n in ("07-progression", "12-mise-a-jour"):
    im = images[n]
    y = 315 * 2
    white = [x for x in range(680, 1481) if min(im.getpixel((x, y))) > 235]
    assert white, f"{n}: no bar head"
    centre = (white[0] + white[-1]) / 2 / 2
    fill = centre - 341
    assert abs(fill / 400 - 0.64375) < 0.01, f"{n}: bar filled to {fill / 400:.3f}"
    # Filled (saturated) before the head, plain track after it.
    r, g, b = im.getpixel((int((340 + fill / 2) * 2), y))
    assert max(r, g, b) - min(r, g, b) > 60, f"{n}: bar not coloured ({r}, {g}, {b})"
    r, g, b = im.getpixel((int(720 * 2), y))
    assert max(r, g, b) < 70, f"{n}: track too bright ({r}, {g}, {b})"
    print(f"{n}: bar filled to {fill / 400:.1%} of its track")
PY
