#!/usr/bin/env python3
"""Draw the installer's application icon and write it as a Windows .ico file.

The picture is a USB Type-A plug seen from above: a silver metal shell with
its two latch windows, a blue grip carrying the USB trident, and the cable
leaving at the bottom.  Every size is laid out on its own pixel grid so the
small images stay sharp instead of being a blurry downscale of the big one.

Only the standard library is used, and nothing depends on time, locale or
hash ordering, so the output is byte-for-byte reproducible.

Usage:  python3 make_icon.py [OUTPUT.ico]     (default: ../juv.ico)
"""

import os
import struct
import sys

# --------------------------------------------------------------------------
# Palette.  Index 0 must stay black: transparent pixels carry index 0 and an
# AND-mask bit of 1, which is what Windows expects for a clean cut-out.
# --------------------------------------------------------------------------
TRANSPARENT = 0
OUTLINE = 1
SHELL = 2
SHELL_HI = 3
SHELL_LO = 4
HOLE = 5
GRIP = 6
GRIP_HI = 7
GRIP_LO = 8
SYMBOL = 9
CABLE = 10
CABLE_HI = 11
NECK = 12
SHELL_EDGE = 13

PALETTE_RGB = [
    (0, 0, 0),         # transparent
    (22, 28, 38),      # outline
    (188, 197, 208),   # metal shell
    (240, 243, 247),   # metal highlight
    (132, 143, 157),   # metal shade
    (36, 42, 54),      # latch window
    (38, 104, 190),    # grip blue
    (92, 154, 230),    # grip highlight
    (24, 66, 128),     # grip shade
    (250, 252, 255),   # trident
    (56, 61, 70),      # cable
    (104, 112, 124),   # cable highlight
    (30, 82, 156),     # strain relief
    (214, 221, 229),   # metal top lip
]

assert len(PALETTE_RGB) <= 256

SIZES = (16, 32, 48, 64)

# Every image: 40-byte header + 1024-byte colour table + 8-bit pixels +
# 1-bit mask.  These totals are what the ICONDIR advertises; if a layout
# change ever alters them, the assert in build_image() stops the build.
EXPECTED_IMAGE_BYTES = {16: 1384, 32: 2216, 48: 3752, 64: 5672}


# --------------------------------------------------------------------------
# Tiny raster helpers.  Coordinates are integer pixels, y grows downwards,
# rectangles are inclusive on both ends.
# --------------------------------------------------------------------------
class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[TRANSPARENT] * size for _ in range(size)]

    def set(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def get(self, x, y):
        return self.px[y][x]


def rounded_mask(x0, y0, x1, y1, r):
    """Set of pixels of a rectangle whose corners are rounded by radius r."""
    pts = set()
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            dx = max(x0 + r - x, 0, x - (x1 - r))
            dy = max(y0 + r - y, 0, y - (y1 - r))
            if r == 0 or dx * dx + dy * dy <= r * r + r * 0.5:
                pts.add((x, y))
    return pts


def draw_part(cv, pts, shade, open_bottom=False):
    """Paint a filled shape with a one-pixel outline.

    A pixel is outline when one of its four neighbours lies outside the
    shape; that yields a thin 8-connected contour that stays crisp at 16 px.
    With open_bottom the shape may run off the lower edge without a border
    (the cable leaves the picture there).  shade(x, y, pts) picks the
    interior colour so each part can carry its own lighting.
    """
    n = cv.size
    for (x, y) in sorted(pts):
        edge = False
        for (nx, ny) in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)):
            if open_bottom and ny >= n:
                continue
            if (nx, ny) not in pts:
                edge = True
                break
        cv.set(x, y, OUTLINE if edge else shade(x, y, pts))


def box(pts):
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return min(xs), min(ys), max(xs), max(ys)


# --------------------------------------------------------------------------
# The USB trident: arrow head on top, a round foot, a left arm ending in a
# dot and a right arm ending in a square.  It is hand-placed for every size
# because a rasterised outline turns lumpy at icon sizes; the arms keep the
# same two-pixel strokes as the stem wherever there is room for them.
# --------------------------------------------------------------------------
def stamp(cv, x0, y0, rows):
    """Paint the '#' cells of a glyph with its top-left corner at (x0, y0)."""
    for dy, row in enumerate(rows):
        for dx, ch in enumerate(row):
            if ch == '#':
                cv.set(x0 + dx, y0 + dy, SYMBOL)


# Trident for the 16 px image: one-pixel strokes, the dot reduced to a
# plus sign and the square to 2 x 2.
TRIDENT_16 = [
    "....#....",
    "...###...",
    ".#..#..##",
    "###.#..##",
    ".#..#..#.",
    "..#.#.#..",
    "...###...",
]

# Trident for the 32 px image, with two-pixel strokes like the larger ones.
TRIDENT_32 = [
    "........##........",
    ".......####.......",
    "......######......",
    ".....########.....",
    "........##....####",
    ".##.....##....####",
    "####....##....####",
    "####....##....####",
    ".##.....##.....##.",
    ".##.....##...####.",
    ".###....##.####...",
    "..####..####......",
    "....######........",
    ".......####.......",
    "......######......",
    "......######......",
    ".......####.......",
]


# Trident for the 48 px image.
TRIDENT_48 = [
    "..........##..........",
    ".........####.........",
    "........######........",
    ".......########.......",
    "..........##.....#####",
    "..........##.....#####",
    "..###.....##.....#####",
    ".#####....##.....#####",
    ".#####....##.....#####",
    ".#####....##.....###..",
    "..###.....##...####...",
    "...###....##.####.....",
    "....####..#####.......",
    "......######..........",
    "........####..........",
    ".........####.........",
    "........######........",
    "........######........",
    ".........####.........",
]

# Trident for the 64 px image.
TRIDENT_64 = [
    ".............##.............",
    "............####............",
    "...........######...........",
    "..........########...######.",
    ".........##########..######.",
    ".............##......######.",
    "..####.......##......######.",
    ".######......##......######.",
    ".######......##......######.",
    ".######......##........##...",
    ".######......##.......###...",
    "..####.......##.....####....",
    "...####......##...####......",
    ".....####....##.####........",
    ".......####..#####..........",
    ".........######.............",
    "...........####.............",
    ".............##.............",
    "............####............",
    "...........######...........",
    "..........########..........",
    "..........########..........",
    "..........########..........",
    "...........######...........",
    "............####............",
]

# --------------------------------------------------------------------------
# Per-size layouts: (x0, y0, x1, y1) boxes for the parts and the top-left
# corner of the trident.  The plug is centred on the image's vertical axis.
# --------------------------------------------------------------------------
LAYOUTS = {
    # 16 px uses an odd width centred on x = 7 so the one-pixel stem of the
    # trident sits exactly in the middle.
    16: dict(shell=(3, 0, 11, 5), holes=[(5, 2, 6, 3), (8, 2, 9, 3)],
             grip=(1, 5, 13, 13), grip_r=1, neck=None,
             cable=(5, 13, 9, 15), hi=1,
             trident=(TRIDENT_16, 3, 6)),
    32: dict(shell=(9, 0, 22, 7), holes=[(11, 2, 13, 4), (18, 2, 20, 4)],
             grip=(4, 7, 27, 27), grip_r=2, neck=(11, 27, 20, 29),
             cable=(13, 29, 18, 31), hi=1,
             trident=(TRIDENT_32, 7, 9)),
    48: dict(shell=(14, 0, 33, 15), holes=[(17, 4, 20, 8), (27, 4, 30, 8)],
             grip=(8, 15, 39, 39), grip_r=3, neck=(16, 39, 31, 42),
             cable=(19, 42, 28, 47), hi=2,
             trident=(TRIDENT_48, 13, 18)),
    64: dict(shell=(18, 0, 45, 20), holes=[(23, 5, 28, 11), (35, 5, 40, 11)],
             grip=(10, 20, 53, 52), grip_r=4, neck=(21, 52, 42, 56),
             cable=(25, 56, 38, 63), hi=2,
             trident=(TRIDENT_64, 18, 24)),
}


def render(size):
    L = LAYOUTS[size]
    cv = Canvas(size)
    hi = L["hi"]

    # Cable first, so the strain relief and grip sit on top of it.
    cable = rounded_mask(*L["cable"], r=0)
    cx0 = box(cable)[0]

    def cable_shade(x, y, pts):
        return CABLE_HI if x <= cx0 + hi else CABLE
    draw_part(cv, cable, cable_shade, open_bottom=True)

    if L["neck"]:
        neck = rounded_mask(*L["neck"], r=1 if size >= 48 else 0)
        nx1 = box(neck)[2]

        def neck_shade(x, y, pts):
            return GRIP_LO if x >= nx1 - hi else NECK
        draw_part(cv, neck, neck_shade)

    # Metal shell with a brighter lip at the tip and a lit left side.
    shell = rounded_mask(*L["shell"], r=0)
    sx0, sy0, sx1, sy1 = box(shell)

    def shell_shade(x, y, pts):
        if x <= sx0 + hi:
            return SHELL_HI
        if x >= sx1 - hi:
            return SHELL_LO
        if y <= sy0 + hi and size >= 32:
            return SHELL_EDGE
        return SHELL
    draw_part(cv, shell, shell_shade)
    for (x0, y0, x1, y1) in L["holes"]:
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                cv.set(x, y, HOLE)

    # Grip: lit from the top left.
    grip = rounded_mask(*L["grip"], r=L["grip_r"])
    gx0, gy0, gx1, gy1 = box(grip)

    # At 16 px the glyph needs every row, so only the sides are shaded there.
    flat_rows = size == 16

    def grip_shade(x, y, pts):
        if x <= gx0 + hi or (y <= gy0 + hi and not flat_rows):
            return GRIP_HI
        if x >= gx1 - hi or (y >= gy1 - hi and not flat_rows):
            return GRIP_LO
        return GRIP
    draw_part(cv, grip, grip_shade)

    # The glyph must sit wholly on the grip's face, clear of its outline.
    glyph, tx, ty = L["trident"]
    assert len(set(len(row) for row in glyph)) == 1
    for dy, row in enumerate(glyph):
        for dx, ch in enumerate(row):
            if ch == '#':
                assert (tx + dx, ty + dy) in grip
                assert cv.get(tx + dx, ty + dy) != OUTLINE
    stamp(cv, tx, ty, glyph)
    return cv


# --------------------------------------------------------------------------
# ICO encoding.
# --------------------------------------------------------------------------
def build_image(cv):
    n = cv.size
    header = struct.pack(
        "<IiiHHIIiiII",
        40,          # biSize
        n,           # biWidth
        n * 2,       # biHeight: XOR bitmap plus AND mask
        1,           # biPlanes
        8,           # biBitCount
        0,           # biCompression = BI_RGB
        n * n,       # biSizeImage: the 8-bit XOR bitmap (rows need no pad)
        0, 0,        # resolution, unused for icons
        0,           # biClrUsed: 0 = full 256-entry table
        0)           # biClrImportant
    table = bytearray(256 * 4)
    for i, (r, g, b) in enumerate(PALETTE_RGB):
        table[i * 4:i * 4 + 4] = bytes((b, g, r, 0))   # RGBQUAD order

    xor_stride = (n + 3) & ~3
    and_stride = ((n + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(n - 1, -1, -1):          # DIB rows run bottom-up
        row = cv.px[y]
        assert all(0 <= c < len(PALETTE_RGB) for c in row)
        xor += bytes(row) + b"\0" * (xor_stride - n)
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            if c == TRANSPARENT:
                bits[x >> 3] |= 0x80 >> (x & 7)
        mask += bits

    data = header + bytes(table) + bytes(xor) + bytes(mask)
    assert len(data) == EXPECTED_IMAGE_BYTES[n], (n, len(data))
    return data


def build_ico():
    images = [build_image(render(s)) for s in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8,
                           len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    assert len(out) == 6 + 16 * 4 + sum(EXPECTED_IMAGE_BYTES.values())
    return bytes(out)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    path = argv[1] if len(argv) > 1 else os.path.join(here, "..", "juv.ico")
    data = build_ico()
    with open(path, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (os.path.normpath(path), len(data)))


if __name__ == "__main__":
    main(sys.argv)
