#!/usr/bin/python3
"""Remakes the five TrueType files in resources/fonts/ from the published
static fonts (npm packages of the Google Fonts builds, SIL Open Font License).

The window asks GDI+ for the families by name, so what matters in each file is
its name table and its style bits: GDI+ groups the faces of a private
collection by the legacy family name (name ID 1) and picks the face by the
Regular/Bold style that fsSelection and macStyle announce. The two Space
Grotesk files get family names of their own so that each one is the only face
of its family (one drawn bold, one drawn regular at weight 500).

Run with Debian's python3 (it has python3-fonttools):
    /usr/bin/python3 resources/make-fonts.py
The output is deterministic (the head timestamps are kept from the sources).

Each file is then reduced to the characters the program can ever draw (see
KEEP): its fixed texts, and for folder paths and file names the Latin, Greek,
Cyrillic, punctuation, currency and symbol blocks. Only whole glyphs are
dropped: the outlines, hinting, metrics and layout rules of every glyph kept
are the published ones, so the text looks the same at every size.
    /usr/bin/python3 resources/make-fonts.py --subset-only
reduces the files in place without fetching anything (it is idempotent).
"""

import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

from fontTools import subset
from fontTools.ttLib import TTFont

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "fonts")

PACKAGES = {
    "space-grotesk": "@expo-google-fonts/space-grotesk@0.4.1",
    "inter": "@expo-google-fonts/inter@0.4.2",
    "jetbrains-mono": "@expo-google-fonts/jetbrains-mono@0.4.1",
}

# (package, file inside the package, output file, family, style, weight)
FONTS = [
    ("space-grotesk", "700Bold/SpaceGrotesk_700Bold.ttf", "SpaceGroteskLight-Bold.ttf",
     "Space Grotesk Light", "Bold", 700),
    ("space-grotesk", "500Medium/SpaceGrotesk_500Medium.ttf", "SpaceGroteskLightMedium-Regular.ttf",
     "Space Grotesk Light Medium", "Regular", 500),
    ("inter", "400Regular/Inter_400Regular.ttf", "Inter-Regular.ttf", "Inter", "Regular", 400),
    ("inter", "700Bold/Inter_700Bold.ttf", "Inter-Bold.ttf", "Inter", "Bold", 700),
    ("jetbrains-mono", "400Regular/JetBrainsMono_400Regular.ttf", "JetBrainsMono-Regular.ttf",
     "JetBrains Mono", "Regular", 400),
]

LICENSES = {
    "space-grotesk": "OFL-SpaceGrotesk.txt",
    "inter": "OFL-Inter.txt",
    "jetbrains-mono": "OFL-JetBrainsMono.txt",
}

# Unicode ranges kept (inclusive): Basic Latin to the combining diacritical
# marks (decomposed accents in file names), Greek and Coptic, Cyrillic, and
# from General Punctuation (with superscripts, currency, letterlike symbols,
# arrows, mathematical and technical symbols, box drawing, shapes, dingbats)
# to Miscellaneous Symbols and Arrows; and the replacement character.
KEEP = [(0x0020, 0x007E), (0x00A0, 0x036F), (0x0370, 0x03FF), (0x0400, 0x04FF),
        (0x2000, 0x2BFF), (0xFFFD, 0xFFFD)]

FS_ITALIC, FS_BOLD, FS_REGULAR = 1 << 0, 1 << 5, 1 << 6
MAC_BOLD, MAC_ITALIC = 1 << 0, 1 << 1


def fetch(tmp):
    """npm pack each package into tmp and unpack it; returns package dirs."""
    dirs = {}
    for key, spec in PACKAGES.items():
        tgz = subprocess.run(["npm", "pack", "--silent", spec], cwd=tmp, check=True,
                             capture_output=True, text=True).stdout.strip().splitlines()[-1]
        dest = os.path.join(tmp, key)
        with tarfile.open(os.path.join(tmp, tgz)) as tar:
            tar.extractall(dest)
        dirs[key] = os.path.join(dest, "package")
    return dirs


def set_name(name_table, name_id, text):
    """Replaces every record of name_id with one Windows/English (US) record."""
    name_table.removeNames(nameID=name_id)
    name_table.setName(text, name_id, 3, 1, 0x409)


def rename(src, dst, family, style, weight):
    font = TTFont(src, recalcTimestamp=False)
    name = font["name"]
    version = name.getDebugName(5) or "Version 1.000"
    vendor_version = version.replace("Version ", "").split(";")[0]
    postscript = family.replace(" ", "") + "-" + style
    set_name(name, 1, family)
    set_name(name, 2, style)
    set_name(name, 3, f"{vendor_version};NRVL;{postscript}")
    set_name(name, 4, f"{family} {style}")
    set_name(name, 6, postscript)
    # Typographic family/subfamily equal to the legacy ones: every consumer
    # (GDI, GDI+, DirectWrite) then sees the same single-face family.
    set_name(name, 16, family)
    set_name(name, 17, style)

    os2 = font["OS/2"]
    os2.usWeightClass = weight
    keep = os2.fsSelection & ~(FS_ITALIC | FS_BOLD | FS_REGULAR)
    os2.fsSelection = keep | (FS_BOLD if style == "Bold" else FS_REGULAR)
    head = font["head"]
    head.macStyle = (head.macStyle & ~(MAC_BOLD | MAC_ITALIC)) | (MAC_BOLD if style == "Bold" else 0)
    font.save(dst, reorderTables=True)


def subset_options():
    """Drops glyphs and nothing else: every table, name, hinting program,
    layout feature and glyph name stays, and no bound or average is
    recomputed."""
    opts = subset.Options()
    opts.layout_features = ["*"]
    opts.name_IDs = ["*"]
    opts.name_languages = ["*"]
    opts.name_legacy = True
    opts.hinting = True
    opts.hinting_tables = ["*"]
    opts.drop_tables = []
    opts.passthrough_tables = True
    opts.notdef_glyph = True
    opts.notdef_outline = True
    opts.glyph_names = True
    opts.legacy_kern = True
    opts.symbol_cmap = True
    opts.legacy_cmap = True
    opts.prune_unicode_ranges = False
    opts.recalc_bounds = False
    opts.recalc_timestamp = False
    opts.recalc_average_width = False
    opts.recalc_max_context = False
    opts.canonical_order = False
    return opts


def reduce(path):
    font = TTFont(path, recalcTimestamp=False, recalcBBoxes=False)
    subsetter = subset.Subsetter(subset_options())
    subsetter.populate(unicodes=[u for first, last in KEEP for u in range(first, last + 1)])
    subsetter.subset(font)
    font.save(path, reorderTables=True)
    return len(font.getGlyphOrder())


def main():
    os.makedirs(OUT, exist_ok=True)
    if sys.argv[1:] == ["--subset-only"]:
        for _, _, out, _, _, _ in FONTS:
            print(f"{out}: {reduce(os.path.join(OUT, out))} glyphs")
        return 0
    tmp = tempfile.mkdtemp(prefix="norvale-fonts-")
    try:
        dirs = fetch(tmp)
        for key, rel, out, family, style, weight in FONTS:
            rename(os.path.join(dirs[key], rel), os.path.join(OUT, out), family, style, weight)
            glyphs = reduce(os.path.join(OUT, out))
            print(f"{out}: {family} / {style} / {weight}, {glyphs} glyphs")
        for key, out in LICENSES.items():
            shutil.copyfile(os.path.join(dirs[key], "LICENSE_FONT"), os.path.join(OUT, out))
    finally:
        shutil.rmtree(tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
