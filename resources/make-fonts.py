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
"""

import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

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


def main():
    os.makedirs(OUT, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="norvale-fonts-")
    try:
        dirs = fetch(tmp)
        for key, rel, out, family, style, weight in FONTS:
            rename(os.path.join(dirs[key], rel), os.path.join(OUT, out), family, style, weight)
            print(f"{out}: {family} / {style} / {weight}")
        for key, out in LICENSES.items():
            shutil.copyfile(os.path.join(dirs[key], "LICENSE_FONT"), os.path.join(OUT, out))
    finally:
        shutil.rmtree(tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
