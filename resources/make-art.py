#!/usr/bin/python3
"""Draws the setup program's own artwork into resources/art/:

  logo.png    256 x 256 RGBA   the vault mark (padlock on a rounded tile)
  brand.png   600 x 940 RGB    the abstract backdrop of the brand panel
  setup.ico   16..256 px       the program icon, every size a 32-bit PNG

Everything is computed from signed distances and smooth falloffs in floating
point, rendered supersampled and box-filtered down, then dithered, so the
gradients do not band and the edges are clean at every size. The output is
deterministic (fixed noise seeds, no timestamps in the PNG files).

Run with Debian's python3 (python3-pil, python3-numpy):
    /usr/bin/python3 resources/make-art.py
Every PNG (the icon's too) is then recompressed with zopflipng (Debian's
zopfli package), kept only when it decodes to the very same pixels in the
same colour type: the images travel in every setup file.
    /usr/bin/python3 resources/make-art.py --recompress-only
recompresses the files in place without drawing anything.
"""

import io
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "art")


def rgb(hex_value):
    return np.array([(hex_value >> 16) & 255, (hex_value >> 8) & 255, hex_value & 255], dtype=np.float64) / 255.0


NAVY_DEEP = rgb(0x080B16)
NAVY = rgb(0x0F1428)
VIOLET = rgb(0x8B5CF6)
CYAN = rgb(0x22D3EE)
PINK = rgb(0xEC4899)
LAVENDER = rgb(0xC4B5FD)
WHITE = rgb(0xFFFFFF)


# --- small numeric helpers ---------------------------------------------------


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def mix(a, b, t):
    """Blend colours a and b by t (array), result shape t.shape + (3,)."""
    t = np.asarray(t)[..., None]
    return a * (1.0 - t) + b * t


def ramp(stops, t):
    """Piecewise-linear colour ramp: stops = [(pos, colour), ...]."""
    t = np.clip(np.asarray(t, dtype=np.float64), stops[0][0], stops[-1][0])
    out = np.zeros(t.shape + (3,))
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        seg = (t >= p0) & (t <= p1)
        u = (t[seg] - p0) / max(p1 - p0, 1e-9)
        out[seg] = c0 * (1.0 - u[:, None]) + c1 * u[:, None]
    return out


def coverage(d, px):
    """Anti-aliased coverage of a signed distance d (in units; px units/pixel)."""
    return np.clip(0.5 - d / px, 0.0, 1.0)


def over(dst_rgb, dst_a, src_rgb, src_a):
    """Straight-alpha 'over' compositing; returns new (rgb, alpha)."""
    sa = src_a[..., None]
    da = dst_a[..., None]
    out_a = sa + da * (1.0 - sa)
    num = src_rgb * sa + dst_rgb * da * (1.0 - sa)
    out_rgb = np.where(out_a > 1e-9, num / np.maximum(out_a, 1e-9), 0.0)
    return out_rgb, out_a[..., 0]


def to_8bit(values, seed):
    """Quantises [0,1] floats to bytes with a tiny ordered-random dither."""
    rng = np.random.default_rng(seed)
    noise = (rng.random(values.shape) + rng.random(values.shape) - 1.0) * 0.5  # triangular
    return np.clip(np.round(values * 255.0 + noise), 0, 255).astype(np.uint8)


def downsample(arr, factor):
    h, w = arr.shape[0] // factor, arr.shape[1] // factor
    return arr.reshape(h, factor, w, factor, *arr.shape[2:]).mean(axis=(1, 3))


# --- signed distances (2-D, in units) ------------------------------------------


def sd_round_box(x, y, cx, cy, hw, hh, r):
    qx = np.abs(x - cx) - hw + r
    qy = np.abs(y - cy) - hh + r
    outside = np.hypot(np.maximum(qx, 0.0), np.maximum(qy, 0.0))
    inside = np.minimum(np.maximum(qx, qy), 0.0)
    return outside + inside - r


def sd_squircle(x, y, cx, cy, half, n=5.0):
    """Superellipse |x|^n + |y|^n = half^n; distance approximated by the gradient."""
    u = np.abs(x - cx) / half
    v = np.abs(y - cy) / half
    f = (u**n + v**n) ** (1.0 / n)
    # f is 1-homogeneous, so (f - 1) * half is a good distance near the edge.
    return (f - 1.0) * half


def sd_circle(x, y, cx, cy, r):
    return np.hypot(x - cx, y - cy) - r


def sd_segment(x, y, ax, ay, bx, by):
    px, py = x - ax, y - ay
    vx, vy = bx - ax, by - ay
    h = np.clip((px * vx + py * vy) / (vx * vx + vy * vy), 0.0, 1.0)
    return np.hypot(px - vx * h, py - vy * h)


def sd_shackle(x, y, cx, cy, radius, leg, thickness):
    """A U turned upside down: the upper half ring plus two legs going down."""
    ring = np.where(y <= cy, np.abs(np.hypot(x - cx, y - cy) - radius), np.inf)
    left = sd_segment(x, y, cx - radius, cy, cx - radius, cy + leg)
    right = sd_segment(x, y, cx + radius, cy, cx + radius, cy + leg)
    return np.minimum(ring, np.minimum(left, right)) - thickness / 2.0


# --- the vault mark --------------------------------------------------------------


def draw_mark(size, simple, ss=4):
    """The padlock on its tile, as straight-alpha float RGB + alpha at size px.

    Geometry is designed on a 256-unit square. simple=True is the variant for
    the smallest icons: the tile fills the square and the lock is bolder.
    """
    n = size * ss
    px = 256.0 / n  # units per supersampled pixel
    coords = (np.arange(n) + 0.5) * px
    x, y = np.meshgrid(coords, coords)
    col = np.zeros((n, n, 3))
    alpha = np.zeros((n, n))

    if simple:
        tile_half, shadow = 126.0, False
        body = dict(cx=128.0, cy=160.0, hw=72.0, hh=56.0, r=20.0)
        shackle = dict(cx=128.0, cy=98.0, radius=40.0, leg=40.0, thickness=26.0)
        key_r, slot_w, slot_bottom = 16.0, 12.0, 188.0
    else:
        tile_half, shadow = 110.0, True
        body = dict(cx=128.0, cy=156.0, hw=60.0, hh=47.0, r=17.0)
        shackle = dict(cx=128.0, cy=104.0, radius=33.0, leg=36.0, thickness=19.0)
        key_r, slot_w, slot_bottom = 12.0, 9.0, 178.0

    tile_cy = 128.0 if simple else 126.0
    d_tile = sd_squircle(x, y, 128.0, tile_cy, tile_half, n=4.6)

    # A soft drop shadow under the tile (large sizes only), so the tile
    # lifts off light desktops as well as off the dark brand panel.
    if shadow:
        d_drop = sd_squircle(x, y, 128.0, tile_cy + 5.0, tile_half, n=4.6)
        drop = np.exp(-np.maximum(d_drop, 0.0) ** 2 / (2 * 5.0**2)) * (d_drop > -3.0)
        col, alpha = over(col, alpha, np.broadcast_to(rgb(0x03040A), col.shape), 0.45 * drop)

    # Tile: deep navy, lit from the top left with a violet sheen, cyan at the foot.
    t_diag = np.clip(((x - 20) + (y - 20)) / 430.0, 0.0, 1.0)
    tile_col = ramp([(0.0, rgb(0x241B58)), (0.45, rgb(0x131634)), (1.0, rgb(0x0A0E1E))], t_diag)
    sheen = np.exp(-(((x - 70) / 120.0) ** 2 + ((y - 40) / 90.0) ** 2))
    tile_col = tile_col + VIOLET * 0.22 * sheen[..., None]
    foot = np.exp(-(((x - 190) / 110.0) ** 2 + ((y - 250) / 70.0) ** 2))
    tile_col = tile_col + CYAN * 0.10 * foot[..., None]
    col, alpha = over(col, alpha, np.clip(tile_col, 0, 1), coverage(d_tile, px))

    # Rim: a thin gradient line just inside the tile edge (violet to cyan).
    rim_w = 4.0 if simple else 3.0
    d_rim = np.abs(d_tile + rim_w / 2.0 + 0.5) - rim_w / 2.0
    rim_col = ramp([(0.0, rgb(0xA78BFA)), (0.55, VIOLET), (1.0, CYAN)], np.clip((x + y - 40) / 400.0, 0, 1))
    rim_fade = 0.55 + 0.45 * smoothstep(300, 40, x + y)
    col, alpha = over(col, alpha, rim_col, coverage(d_rim, px) * rim_fade * (0.9 if simple else 0.75))

    # Glow under the lock, so it floats on light.
    glow = np.exp(-(((x - 128) / 70.0) ** 2 + ((y - 150) / 62.0) ** 2))
    col, alpha = over(col, alpha, np.broadcast_to(VIOLET, col.shape), 0.35 * glow * coverage(d_tile, px))

    b = body
    body_top = b["cy"] - b["hh"]
    d_body = sd_round_box(x, y, b["cx"], b["cy"], b["hw"], b["hh"], b["r"])

    # Shackle: cyan to periwinkle, a lighter inner band for volume, darker
    # where the legs go into the body.
    d_sh = sd_shackle(x, y, **shackle)
    sh_col = ramp([(0.0, rgb(0x67E8F9)), (0.5, CYAN), (1.0, rgb(0x7C9CF5))], np.clip((x - 80) / 100.0, 0, 1))
    sh_col = mix(sh_col, WHITE, 0.35 * smoothstep(-2.0, -shackle["thickness"] / 2.0, d_sh) * (y < shackle["cy"] + 10))
    sh_col = sh_col * (1.0 - 0.45 * np.exp(-np.maximum(body_top - y, 0.0) / 7.0))[..., None]
    col, alpha = over(col, alpha, sh_col, coverage(d_sh, px))

    # Soft shadow of the body on the tile below it.
    d_bdrop = sd_round_box(x, y, b["cx"], b["cy"] + 5.0, b["hw"], b["hh"], b["r"])
    bdrop = np.exp(-np.maximum(d_bdrop, 0.0) ** 2 / (2 * 5.0**2))
    col, alpha = over(col, alpha, np.broadcast_to(rgb(0x05060F), col.shape), 0.5 * bdrop * coverage(d_tile, px))

    # Body: violet to pink diagonal, glossy top, darker bottom edge.
    t_body = np.clip(((x - (b["cx"] - b["hw"])) * 0.7 + (y - (b["cy"] - b["hh"])) * 0.8) / (2 * b["hw"]), 0, 1)
    body_col = ramp([(0.0, rgb(0xA78BFA)), (0.45, VIOLET), (1.0, PINK)], t_body)
    top = smoothstep(b["cy"] - b["hh"] + 30, b["cy"] - b["hh"], y)
    body_col = mix(body_col, WHITE, 0.18 * top)
    bottom = smoothstep(b["cy"] + b["hh"] - 18, b["cy"] + b["hh"], y)
    body_col = mix(body_col, rgb(0x5B21B6), 0.25 * bottom)
    col, alpha = over(col, alpha, body_col, coverage(d_body, px))
    # A fine light line along the body's upper edge.
    d_edge = np.abs(d_body + 1.6) - 0.9
    col, alpha = over(col, alpha, np.broadcast_to(WHITE, col.shape),
                      0.45 * coverage(d_edge, px) * smoothstep(b["cy"], b["cy"] - b["hh"], y))

    # Keyhole: a round head and a tapered slot, in the tile's navy.
    kcy = b["cy"] - 8.0
    d_key = np.minimum(sd_circle(x, y, 128.0, kcy, key_r),
                       sd_segment(x, y, 128.0, kcy, 128.0, slot_bottom - slot_w / 2) - slot_w / 2
                       - 0.06 * np.clip(y - kcy, 0, None))
    key_col = mix(rgb(0x0B0F22), rgb(0x1E1B4B), smoothstep(kcy + 30, kcy - key_r, y))
    col, alpha = over(col, alpha, key_col, coverage(d_key, px))

    return downsample(col * alpha[..., None], ss), downsample(alpha, ss)


def mark_image(size, simple, seed):
    premul, alpha = draw_mark(size, simple)
    straight = np.where(alpha[..., None] > 1e-6, premul / np.maximum(alpha[..., None], 1e-6), 0.0)
    rgba = np.concatenate([straight, alpha[..., None]], axis=2)
    return Image.fromarray(to_8bit(rgba, seed), "RGBA")


# --- the brand panel -------------------------------------------------------------


def wave(x, phase, amp, freqs):
    """A smooth curve y(x) as a sum of sines (x in image units)."""
    y = np.zeros_like(x)
    for k, (f, a, p) in enumerate(freqs):
        y += amp * a * np.sin(x * f + phase + p)
    return y


def ribbon(canvas, x, y, base_y, freqs, amp, phase, width, colour, strength, lines=0, line_gap=7.0,
           line_alpha=0.0, px=1.0):
    """Adds a soft luminous ribbon following y = base_y + wave(x), optionally
    with thin parallel filaments (screen blending keeps it luminous)."""
    cy = base_y + wave(x, phase, amp, freqs)
    # Slope for a perpendicular distance.
    dx = 0.5
    slope = (wave(x + dx, phase, amp, freqs) - wave(x - dx, phase, amp, freqs)) / (2 * dx)
    d = (y - cy) / np.sqrt(1.0 + slope**2)
    body = np.exp(-(d / width) ** 2) * strength
    light = colour[None, None, :] * body[..., None]
    for i in range(lines):
        off = (i - (lines - 1) / 2.0) * line_gap
        dl = np.abs(d - off) - 0.35
        fil = np.clip(0.5 - dl / px, 0, 1) * line_alpha * np.exp(-((off / (width * 1.1)) ** 2))
        light = light + colour[None, None, :] * fil[..., None] * 1.4
    return 1.0 - (1.0 - canvas) * (1.0 - np.clip(light, 0, 1))


def draw_brand(width=600, height=940, ss=2):
    w, h = width * ss, height * ss
    px = 1.0 / ss
    xs = (np.arange(w) + 0.5) * px
    ys = (np.arange(h) + 0.5) * px
    x, y = np.meshgrid(xs, ys)

    # Base: the panel's navy, a touch lighter towards the top where the art is.
    base = ramp([(0.0, rgb(0x0E1230)), (0.28, rgb(0x0A0D1E)), (0.55, NAVY_DEEP), (1.0, rgb(0x070914))], y / height)
    canvas = base.copy()

    # Where the art may be: a band at the top and a band at the bottom; the
    # middle (behind the logo and the texts) stays dark and calm.
    top_mask = smoothstep(250.0, 40.0, y)
    bottom_mask = smoothstep(780.0, 935.0, y)

    # Top: nebula glows, off to the upper right (away from the logo below).
    def glow(cx, cy, rx, ry, colour, strength):
        g = np.exp(-(((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2)) * strength
        return colour[None, None, :] * g[..., None]

    light = glow(470, -20, 260, 170, VIOLET, 0.55) + glow(610, 70, 150, 130, PINK, 0.32) \
        + glow(120, -60, 260, 120, CYAN, 0.16)
    canvas = 1.0 - (1.0 - canvas) * (1.0 - np.clip(light * top_mask[..., None], 0, 1))

    # Top: three aurora ribbons sweeping down from the right.
    top_freqs = [(0.010, 1.0, 0.0), (0.023, 0.35, 1.3), (0.041, 0.12, 2.1)]
    canvas = ribbon(canvas, x, y, 80 - 0.16 * x, top_freqs, 34, 0.0, 30, VIOLET, 0.55, lines=9, line_gap=6.5,
                    line_alpha=0.30, px=px)
    canvas = ribbon(canvas, x, y, 118 - 0.24 * x, top_freqs, 28, 1.4, 20, CYAN, 0.38, lines=7, line_gap=6.0,
                    line_alpha=0.26, px=px)
    canvas = ribbon(canvas, x, y, 150 - 0.20 * x, top_freqs, 24, 2.6, 16, PINK, 0.30, lines=5, line_gap=5.5,
                    line_alpha=0.20, px=px)
    # Keep the ribbons inside the top band.
    canvas = base + (canvas - base) * top_mask[..., None]

    # Bottom: a low horizon glow and one long filament wave along the edge.
    bottom_light = glow(420, 980, 330, 90, VIOLET, 0.55) + glow(600, 960, 170, 80, PINK, 0.30) \
        + glow(150, 990, 240, 60, CYAN, 0.20)
    art = 1.0 - (1.0 - canvas) * (1.0 - np.clip(bottom_light, 0, 1))
    bottom_freqs = [(0.012, 1.0, 0.4), (0.029, 0.3, 2.2)]
    art = ribbon(art, x, y, 905 + 0.03 * x, bottom_freqs, 12, 0.8, 14, CYAN, 0.22, lines=5, line_gap=5.0,
                 line_alpha=0.22, px=px)
    art = ribbon(art, x, y, 918 - 0.02 * x, bottom_freqs, 10, 2.9, 12, VIOLET, 0.28, lines=4, line_gap=5.0,
                 line_alpha=0.20, px=px)
    canvas = canvas + (art - canvas) * bottom_mask[..., None]

    # A faint dot grid in both bands, like a vault's engraving.
    gx = np.abs(((x + 10) % 20.0) - 10.0)
    gy = np.abs(((y + 10) % 20.0) - 10.0)
    dots = np.clip(0.5 - (np.hypot(gx, gy) - 0.8) / px, 0, 1)
    grid_mask = np.maximum(smoothstep(190.0, 10.0, y) * smoothstep(0.0, 250.0, x),
                           smoothstep(860.0, 935.0, y) * smoothstep(300.0, 600.0, x))
    canvas = canvas + LAVENDER[None, None, :] * (dots * grid_mask * 0.05)[..., None]

    # A vault dial around the logo's place (its centre is (160, 344) here):
    # faint concentric rings and one ring of ticks, fading out before the texts.
    lx, ly = 160.0, 344.0
    rr = np.hypot(x - lx, y - ly)
    ang = np.arctan2(y - ly, x - lx)
    rings = np.zeros_like(rr)
    for k, radius in enumerate((128.0, 152.0, 184.0, 226.0, 280.0, 346.0)):
        rings += np.clip(0.5 - (np.abs(rr - radius) - 0.45) / px, 0, 1) * (0.9 - 0.1 * k)
    tick_phase = np.abs(((ang / (2 * np.pi) * 72.0) % 1.0) - 0.5) * (2 * np.pi * 168.0 / 72.0)
    ticks = np.clip(0.5 - (tick_phase - 0.7) / px, 0, 1) * (np.abs(rr - 168.0) < 5.0)
    dial = (rings * 0.055 + ticks * 0.09) * smoothstep(455.0, 330.0, y) * smoothstep(10.0, 120.0, y)
    dial_col = mix(LAVENDER, CYAN, smoothstep(100.0, 500.0, x))
    canvas = canvas + dial_col * dial[..., None]

    # Stars: a few tiny points in the top band, fixed by the seed.
    rng = np.random.default_rng(20240611)
    stars = np.zeros((h, w))
    for _ in range(70):
        sx, sy = rng.uniform(8, width - 8), rng.uniform(6, 210)
        r = rng.uniform(0.5, 1.2)
        b = rng.uniform(0.25, 0.8) * smoothstep(215, 20, sy)
        x0, x1 = int(max(0, (sx - 4) * ss)), int(min(w, (sx + 4) * ss))
        y0, y1 = int(max(0, (sy - 4) * ss)), int(min(h, (sy + 4) * ss))
        d = np.hypot(x[y0:y1, x0:x1] - sx, y[y0:y1, x0:x1] - sy)
        stars[y0:y1, x0:x1] += b * np.exp(-(d / r) ** 2)
    canvas = 1.0 - (1.0 - canvas) * (1.0 - np.clip(stars, 0, 1)[..., None] * rgb(0xE0E7FF)[None, None, :])

    # The right edge meets the screen area: a hairline of light fading out mid-height.
    edge = np.clip(0.5 - (np.abs(x - (width - 0.75)) - 0.5) / px, 0, 1)
    edge_strength = 0.10 + 0.20 * (smoothstep(300, 0, y) + smoothstep(640, 940, y))
    canvas = canvas + rgb(0xA78BFA)[None, None, :] * (edge * edge_strength)[..., None]

    # Vignette: keep the corners and the left edge quiet.
    vignette = 1.0 - 0.18 * smoothstep(0.55, 1.25, np.hypot((x - width * 0.55) / width, (y - height * 0.5) / height) * 1.6)
    canvas = canvas * vignette[..., None]

    return downsample(np.clip(canvas, 0, 1), ss)


# --- files ------------------------------------------------------------------------


def same_image(a, b):
    ia, ib = Image.open(io.BytesIO(a)), Image.open(io.BytesIO(b))
    return ia.mode == ib.mode and ia.size == ib.size and np.array_equal(np.asarray(ia), np.asarray(ib))


def shrink_png(data):
    """The smallest of data and zopflipng's lossless recompression of it."""
    with tempfile.TemporaryDirectory(prefix="norvale-art-") as tmp:
        src, dst = os.path.join(tmp, "in.png"), os.path.join(tmp, "out.png")
        with open(src, "wb") as f:
            f.write(data)
        subprocess.run(["zopflipng", "-y", "-m", src, dst], check=True, capture_output=True)
        with open(dst, "rb") as f:
            smaller = f.read()
    return smaller if len(smaller) < len(data) and same_image(data, smaller) else data


def png_bytes(img):
    buf = io.BytesIO()
    img.save(buf, "PNG", optimize=True)
    return shrink_png(buf.getvalue())


def save_png(img, path):
    with open(path, "wb") as f:
        f.write(png_bytes(img))


def ico_bytes(images):
    """An .ico with every image stored as PNG (ICONDIR + entries + data)."""
    return ico_from_blobs([img.size for img in images], [png_bytes(img) for img in images])


def ico_from_blobs(sizes, blobs):
    header = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    entries = b""
    for (w, h), blob in zip(sizes, blobs):
        entries += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return header + entries + b"".join(blobs)


def recompress_in_place():
    for name in ("logo.png", "brand.png"):
        path = os.path.join(OUT, name)
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(shrink_png(data))
    path = os.path.join(OUT, "setup.ico")
    with open(path, "rb") as f:
        ico = f.read()
    count = struct.unpack_from("<H", ico, 4)[0]
    sizes, blobs = [], []
    for i in range(count):
        size, offset = struct.unpack_from("<II", ico, 6 + 16 * i + 8)
        blob = ico[offset:offset + size]
        sizes.append(Image.open(io.BytesIO(blob)).size)
        blobs.append(shrink_png(blob))
    with open(path, "wb") as f:
        f.write(ico_from_blobs(sizes, blobs))


def main():
    os.makedirs(OUT, exist_ok=True)
    if sys.argv[1:] == ["--recompress-only"]:
        recompress_in_place()
        return 0

    save_png(mark_image(256, simple=False, seed=1), os.path.join(OUT, "logo.png"))

    icons = [mark_image(s, simple=(s <= 32), seed=100 + s) for s in (16, 24, 32, 48, 64, 128, 256)]
    with open(os.path.join(OUT, "setup.ico"), "wb") as f:
        f.write(ico_bytes(icons))

    brand = draw_brand()
    save_png(Image.fromarray(to_8bit(brand, 7), "RGB"), os.path.join(OUT, "brand.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
