#!/usr/bin/env python3
"""Draws the 16 x 16 icons of the player actions (codes 1..14, see ActionNames in
engine/hidaction.h) and writes them as ui/icons/action01.ico .. action14.ico.

    tools/make-action-icons.py [--out DIR] [--preview FILE.png] [--check]

Each icon is a few shapes in a 16 x 16 coordinate space (y down, pixel (i, j) covering
[i, i+1) x [j, j+1)), sampled 8 x 8 times per pixel so that edges get partial alpha.
The output depends on nothing but this file: run it again after a change and commit
the .ico files with it. --check only compares and exits 1 when a file differs.
"""

import argparse
import math
import struct
import sys
import zlib
from pathlib import Path

SIZE = 16
SUPERSAMPLE = 8

# Glyphs in a dark slate blue, lighter at the top; the signs that tell the volume
# actions apart in one orange accent.
GLYPH_TOP, GLYPH_BOTTOM = (0x4A, 0x6C, 0x9B), (0x1F, 0x34, 0x52)
ACCENT_TOP, ACCENT_BOTTOM = (0xF5, 0x8A, 0x2A), (0xC8, 0x56, 0x08)
ERASE = None


def gradient(top, bottom):
    def paint(_x, y):
        t = min(max(y / SIZE, 0.0), 1.0)
        return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
    return paint


GLYPH = gradient(GLYPH_TOP, GLYPH_BOTTOM)
ACCENT = gradient(ACCENT_TOP, ACCENT_BOTTOM)


# Shapes: predicates on a point.

def poly(*pts):
    def inside(x, y):
        hit = False
        j = len(pts) - 1
        for i in range(len(pts)):
            (xi, yi), (xj, yj) = pts[i], pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        dx = max(x0 + r - x, 0.0, x - (x1 - r))
        dy = max(y0 + r - y, 0.0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def seg(x0, y0, x1, y1, w):
    """A stroke of width w with round ends."""
    vx, vy = x1 - x0, y1 - y0
    ll = vx * vx + vy * vy

    def inside(x, y):
        t = 0.0 if ll == 0 else min(max(((x - x0) * vx + (y - y0) * vy) / ll, 0.0), 1.0)
        dx, dy = x - (x0 + t * vx), y - (y0 + t * vy)
        return dx * dx + dy * dy <= w * w / 4
    return inside


def polyline(pts, w):
    return union(*(seg(*a, *b, w) for a, b in zip(pts, pts[1:])))


def arc(cx, cy, r, w, a0, a1):
    """A ring of radius r and width w between angles a0..a1 (degrees, 0 pointing right,
    counter-clockwise on screen), cut square at both ends."""
    def inside(x, y):
        dx, dy = x - cx, cy - y
        if abs(math.hypot(dx, dy) - r) > w / 2:
            return False
        return a0 <= math.degrees(math.atan2(dy, dx)) <= a1
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def mirror(shape):
    """The shape flipped left to right."""
    return lambda x, y: shape(SIZE - x, y)


def shifted(shape, dx, dy=0.0):
    return lambda x, y: shape(x - dx, y - dy)


# The glyphs.

def play_triangle(x0, x1, y0=2.0, y1=14.0):
    return poly((x0, y0), (x1, (y0 + y1) / 2), (x0, y1))


SPEAKER = union(rect(0.5, 5.5, 3, 10.5, 0.5), poly((2.5, 5.5), (6, 2.5), (6, 13.5), (2.5, 10.5)))
# The sound coming out of it, and where the sign of each volume action goes (on whole
# pixels: a two-pixel stroke on a pixel's edge would blur into four half-tone ones).
WAVE = arc(3.5, 8, 4.5, 1.6, -42, 42)
SIGN_CX, SIGN_CY = 13.0, 8.0


def corner_bracket(flip_x, flip_y):
    """The top left corner of a frame (thickness 2, arms 5 long), flipped to any corner."""
    shape = union(rect(1, 1, 6, 3), rect(1, 1, 3, 6))
    if flip_x:
        shape = mirror(shape)
    if flip_y:
        shape = (lambda s: lambda x, y: s(x, SIZE - y))(shape)
    return shape


def shuffle_layers():
    # Two strokes that cross, each ending in an arrowhead on the right; the second one
    # keeps a gap around it so that the crossing reads as one passing over the other.
    w = 1.8
    lower_to_upper = [(0.5, 12), (4, 12), (9, 4), (11, 4)]
    upper_to_lower = [(0.5, 4), (4, 4), (9, 12), (11, 12)]
    head_top = poly((10.5, 0.5), (15.5, 4), (10.5, 7.5))
    head_bottom = poly((10.5, 8.5), (15.5, 12), (10.5, 15.5))
    return [
        (GLYPH, union(polyline(upper_to_lower, w), head_bottom)),
        (ERASE, polyline(lower_to_upper[1:3], w + 2.0)),
        (GLYPH, union(polyline(lower_to_upper, w), head_top)),
    ]


# Index code - 1: (action name as in ActionNames, layers drawn in order).
ICONS = [
    ("Play/Pause", [(GLYPH, union(play_triangle(0.5, 7.5, 3, 13),
                                  rect(9, 3, 11, 13), rect(13, 3, 15, 13)))]),
    ("Next", [(GLYPH, union(play_triangle(2, 11), rect(11, 2, 14, 14)))]),
    ("Previous", [(GLYPH, mirror(union(play_triangle(2, 11), rect(11, 2, 14, 14))))]),
    ("Stop", [(GLYPH, rect(2.5, 2.5, 13.5, 13.5, 1.2))]),
    ("Volume Up", [(GLYPH, union(SPEAKER, WAVE)),
                   (ACCENT, union(rect(SIGN_CX - 3, SIGN_CY - 1, SIGN_CX + 3, SIGN_CY + 1),
                                  rect(SIGN_CX - 1, SIGN_CY - 3, SIGN_CX + 1, SIGN_CY + 3)))]),
    ("Volume Down", [(GLYPH, union(SPEAKER, WAVE)),
                     (ACCENT, rect(SIGN_CX - 3, SIGN_CY - 1, SIGN_CX + 3, SIGN_CY + 1))]),
    ("Forward", [(GLYPH, union(play_triangle(0.5, 8, 3, 13), play_triangle(8, 15.5, 3, 13)))]),
    ("Backward", [(GLYPH, mirror(union(play_triangle(0.5, 8, 3, 13),
                                       play_triangle(8, 15.5, 3, 13))))]),
    ("Play", [(GLYPH, play_triangle(3.5, 14))]),
    ("Pause", [(GLYPH, union(rect(3, 2, 7, 14), rect(9, 2, 13, 14)))]),
    ("Full Screen", [(GLYPH, union(*(corner_bracket(fx, fy) for fx in (0, 1) for fy in (0, 1))))]),
    ("Eject", [(GLYPH, union(poly((1.5, 9.5), (8, 2), (14.5, 9.5)), rect(1.5, 11, 14.5, 14)))]),
    ("Mute", [(GLYPH, SPEAKER),
              (ACCENT, union(seg(9.5, 5, 15, 10.5, 1.6), seg(9.5, 10.5, 15, 5, 1.6)))]),
    ("Shuffle", shuffle_layers()),
]


def render(layers):
    """Rows of (r, g, b, a) tuples, top row first, colour not premultiplied."""
    n = SUPERSAMPLE
    rows = []
    for j in range(SIZE):
        row = []
        for i in range(SIZE):
            acc = [0, 0, 0]
            hits = 0
            for sj in range(n):
                y = j + (sj + 0.5) / n
                for si in range(n):
                    x = i + (si + 0.5) / n
                    colour = None
                    for paint, shape in layers:
                        if shape(x, y):
                            colour = None if paint is ERASE else paint(x, y)
                    if colour is not None:
                        hits += 1
                        for k in range(3):
                            acc[k] += colour[k]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(c / hits) for c in acc) + (round(255 * hits / (n * n)),))
        rows.append(row)
    return rows


def ico_bytes(rows):
    """One 16 x 16 32-bit image: BITMAPINFOHEADER of twice the height, the BGRA rows
    bottom up, then the AND mask (1 = transparent) for renderers that ignore alpha."""
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for i, (_r, _g, _b, a) in enumerate(row):
            if a < 128:
                line[i // 8] |= 0x80 >> (i % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return icondir + entry + image


def png_bytes(pixels):
    """An RGBA PNG from rows of (r, g, b, a) tuples."""
    h, w = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def preview(images, scale):
    """All icons in a row, scaled up, over a white, a list-selection blue and a dark
    background (one row each), with a real-size strip under each row."""
    backgrounds = [(255, 255, 255), (0x33, 0x99, 0xFF), (0x30, 0x30, 0x30)]
    gap = 4 * scale // 2
    cell = SIZE * scale + gap
    width = gap + cell * len(images)
    band = gap + SIZE * scale + gap + SIZE + gap
    out = []
    for bg in backgrounds:
        canvas = [[bg + (255,) for _ in range(width)] for _ in range(band)]
        for n, rows in enumerate(images):
            for j in range(SIZE):
                for i in range(SIZE):
                    r, g, b, a = rows[j][i]
                    px = tuple(round((c * a + k * (255 - a)) / 255) for c, k in zip((r, g, b), bg))
                    x0, y0 = gap + n * cell + i * scale, gap + j * scale
                    for dy in range(scale):
                        for dx in range(scale):
                            canvas[y0 + dy][x0 + dx] = px + (255,)
                    canvas[gap + SIZE * scale + gap + j][gap + n * cell + i] = px + (255,)
        out += canvas
    return png_bytes(out)


def main():
    root = Path(__file__).resolve().parent.parent
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", type=Path, default=root / "ui" / "icons")
    ap.add_argument("--preview", type=Path, help="also write a PNG of all icons, scaled up")
    ap.add_argument("--scale", type=int, default=4, help="the preview's scale (default 4)")
    ap.add_argument("--check", action="store_true",
                    help="write nothing; exit 1 when an .ico file is missing or differs")
    args = ap.parse_args()

    images = [render(layers) for _name, layers in ICONS]
    stale = []
    if not args.check:
        args.out.mkdir(parents=True, exist_ok=True)
    for code, rows in enumerate(images, start=1):
        path = args.out / f"action{code:02}.ico"
        data = ico_bytes(rows)
        if args.check:
            if not path.is_file() or path.read_bytes() != data:
                stale.append(path)
        else:
            path.write_bytes(data)
    if args.preview:
        args.preview.write_bytes(preview(images, args.scale))
    for path in stale:
        print(f"{path}: differs from what {Path(__file__).name} draws", file=sys.stderr)
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main())
