#!/usr/bin/env python3
"""Draws the wizard's side pictures: an open parcel in a blue setup-screen
gradient, its files rising out of it along a curved arrow, a zipper down its
front. Writes three Windows bitmaps (no dependencies, deterministic):

  WIZ_DEFAULT_BMP256B  the full-size picture, 256 colours
  WIZ_DEFAULT_BMP      a smaller one for small dialog fonts, 256 colours
  WIZ_DEFAULT_BMP16    the smaller one in the 16 standard colours, dithered

usage: make-wizard-bitmaps.py OUTDIR
"""
import math
import os
import struct
import sys

# The full picture fills the frame's bitmap control at the usual dialog font
# (82 x 140 dialog units, 123 x 210 pixels) less its one-pixel margin.
FULL = (121, 208)
SMALL = (97, 166)
DESIGN = (122, 226)  # the size the drawing's coordinates are given in
SUPER = 3  # samples per pixel along each axis

# --- drawing in floating-point RGB on a supersampled canvas


class Canvas:
    def __init__(self, width, height):
        self.w, self.h = width * SUPER, height * SUPER
        self.width, self.height = width, height
        self.px = [[(0.0, 0.0, 0.0)] * self.w for _ in range(self.h)]

    def background(self):
        for y in range(self.h):
            t = y / (self.h - 1)
            top, bottom = (14, 38, 112), (40, 132, 196)
            c = tuple(a + (b - a) * t for a, b in zip(top, bottom))
            row = self.px[y]
            for x in range(self.w):
                # A soft light from the upper left.
                d = math.hypot(x / self.w - 0.15, y / self.h - 0.1)
                glow = max(0.0, 0.55 - d) * 70
                row[x] = tuple(min(255.0, v + glow) for v in c)

    def polygon(self, points, colour, alpha=1.0):
        pts = [(x * SUPER, y * SUPER) for x, y in points]
        ys = [p[1] for p in pts]
        for y in range(max(0, int(min(ys))), min(self.h, int(max(ys)) + 1)):
            yc = y + 0.5
            xs = []
            for (x1, y1), (x2, y2) in zip(pts, pts[1:] + pts[:1]):
                if (y1 <= yc < y2) or (y2 <= yc < y1):
                    xs.append(x1 + (yc - y1) * (x2 - x1) / (y2 - y1))
            xs.sort()
            row = self.px[y]
            for a, b in zip(xs[0::2], xs[1::2]):
                for x in range(max(0, int(math.ceil(a - 0.5))), min(self.w, int(math.floor(b - 0.5)) + 1)):
                    row[x] = blend(row[x], colour, alpha)

    def disc(self, cx, cy, r, colour, alpha=1.0):
        cx, cy, r = cx * SUPER, cy * SUPER, r * SUPER
        for y in range(max(0, int(cy - r)), min(self.h, int(cy + r) + 1)):
            for x in range(max(0, int(cx - r)), min(self.w, int(cx + r) + 1)):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.px[y][x] = blend(self.px[y][x], colour, alpha)

    def line(self, x1, y1, x2, y2, width, colour, alpha=1.0):
        dx, dy = x2 - x1, y2 - y1
        n = math.hypot(dx, dy) or 1.0
        ox, oy = -dy / n * width / 2, dx / n * width / 2
        self.polygon([(x1 + ox, y1 + oy), (x2 + ox, y2 + oy), (x2 - ox, y2 - oy), (x1 - ox, y1 - oy)],
                     colour, alpha)

    def pixels(self):
        """Box-filtered down to the real size."""
        out = []
        for y in range(self.height):
            row = []
            for x in range(self.width):
                acc = [0.0, 0.0, 0.0]
                for sy in range(SUPER):
                    src = self.px[y * SUPER + sy]
                    for sx in range(SUPER):
                        p = src[x * SUPER + sx]
                        acc[0] += p[0]
                        acc[1] += p[1]
                        acc[2] += p[2]
                k = SUPER * SUPER
                row.append(tuple(min(255, max(0, int(round(v / k)))) for v in acc))
            out.append(row)
        return out


def blend(under, over, alpha):
    return tuple(u + (o - u) * alpha for u, o in zip(under, over))


def shade(colour, factor):
    return tuple(min(255, c * factor) for c in colour)


def draw(width, height):
    c = Canvas(width, height)
    c.background()
    s = width / DESIGN[0]  # the design is drawn at its own size and scaled
    sy = height / DESIGN[1]

    def P(x, y):
        return (x * s, y * sy)

    # Faint rings of the setup screen.
    for i, r in enumerate((150, 118, 88)):
        cx, cy = 128 * s, 40 * sy
        steps = 90
        for k in range(steps):
            a1, a2 = math.pi * (0.5 + k / steps), math.pi * (0.5 + (k + 1) / steps)
            c.line(cx + r * s * math.cos(a1), cy + r * sy * math.sin(a1),
                   cx + r * s * math.cos(a2), cy + r * sy * math.sin(a2), 1.2 * s, (255, 255, 255), 0.08)

    # The parcel: an open box seen from the front right.
    tan, dark, light = (214, 160, 92), (150, 100, 50), (236, 196, 132)
    front = [P(18, 150), P(78, 164), P(78, 214), P(18, 200)]
    side = [P(78, 164), P(108, 148), P(108, 196), P(78, 214)]
    inner = [P(18, 150), P(48, 136), P(108, 148), P(78, 164)]
    # Shadow on the floor.
    c.polygon([P(14, 204), P(78, 220), P(116, 200), P(112, 196), P(78, 214), P(18, 200)], (0, 0, 40), 0.35)
    c.polygon(inner, shade(dark, 0.7))

    # The files rising out of the box along a curve.
    def sheet(x, y, angle, scale):
        w, h = 22 * scale, 28 * scale
        ca, sa = math.cos(angle), math.sin(angle)

        def R(px, py):
            return P(x + px * ca - py * sa, y + px * sa + py * ca)
        c.polygon([R(-w / 2 + 1.5, -h / 2 + 1.5), R(w / 2 + 1.5, -h / 2 + 1.5), R(w / 2 + 1.5, h / 2 + 1.5),
                   R(-w / 2 + 1.5, h / 2 + 1.5)], (0, 0, 30), 0.3)
        fold = 6 * scale
        c.polygon([R(-w / 2, -h / 2), R(w / 2 - fold, -h / 2), R(w / 2, -h / 2 + fold), R(w / 2, h / 2),
                   R(-w / 2, h / 2)], (250, 252, 255))
        c.polygon([R(w / 2 - fold, -h / 2), R(w / 2, -h / 2 + fold), R(w / 2 - fold, -h / 2 + fold)],
                  (190, 200, 220))
        for k in range(4):
            yy = -h / 2 + (8 + k * 5) * scale
            x2 = w / 2 - (4 if k < 3 else 9) * scale
            a, b = R(-w / 2 + 4 * scale, yy), R(x2, yy)
            c.line(a[0], a[1], b[0], b[1], 1.3 * scale * s, (70, 110, 180))
    sheet(58, 122, -0.25, 0.9)
    sheet(70, 84, 0.2, 0.8)
    sheet(52, 48, -0.12, 0.7)

    # The curved arrow that carries them up.
    pts = []
    for k in range(41):
        t = k / 40
        pts.append((92 - 10 * t + 14 * math.sin(t * math.pi), 140 - 112 * t))
    for (x1, y1), (x2, y2) in zip(pts, pts[1:]):
        c.line(x1 * s, y1 * sy, x2 * s, y2 * sy, 5 * s, (255, 214, 64), 0.95)
    hx, hy = pts[-1]
    c.polygon([P(hx - 8, hy + 4), P(hx + 1, hy - 10), P(hx + 8, hy + 6)], (255, 214, 64))

    # Front and side of the box over the bottom of the arrow and the first sheet.
    c.polygon(front, tan)
    c.polygon(side, shade(tan, 0.78))
    c.polygon([P(18, 150), P(78, 164), P(78, 168), P(18, 154)], light)
    # Flaps.
    c.polygon([P(18, 150), P(4, 132), P(34, 122), P(48, 136)], shade(tan, 0.9))
    c.polygon([P(108, 148), P(118, 128), P(90, 118), P(48, 136)], shade(tan, 0.7), 0.0)
    c.polygon([P(78, 164), P(108, 148), P(118, 158), P(88, 176)], shade(light, 0.95))
    # The zipper down the front.
    zx1, zy1, zx2, zy2 = 48, 157, 48, 207
    c.line(zx1 * s, zy1 * sy, zx2 * s, zy2 * sy, 4 * s, (70, 70, 80))
    for k in range(12):
        y = zy1 + 2 + k * 4
        off = -2.4 if k % 2 else 2.4
        c.line((zx1 + off) * s, y * sy, zx1 * s, y * sy, 2.2 * s, (200, 200, 210))
    c.polygon([P(44, 176), P(52, 176), P(53, 190), P(43, 190)], (230, 230, 236))
    c.disc(48 * s, 186 * sy, 1.8 * s, (70, 70, 80))

    # A little sparkle.
    for x, y, r in ((22, 30, 3.0), (100, 70, 2.2), (16, 96, 1.6)):
        c.polygon([P(x, y - r * 2), P(x + r * 0.5, y), P(x, y + r * 2), P(x - r * 0.5, y)], (255, 255, 255), 0.8)
        c.polygon([P(x - r * 2, y), P(x, y - r * 0.5), P(x + r * 2, y), P(x, y + r * 0.5)], (255, 255, 255), 0.8)
    return c.pixels()


# --- colour reduction


def median_cut(colours, count):
    boxes = [colours]
    while len(boxes) < count:
        boxes.sort(key=lambda b: max(max(p[i] for p in b) - min(p[i] for p in b) for i in range(3)) if len(b) > 1 else -1)
        box = boxes.pop()
        if len(box) < 2:
            boxes.append(box)
            break
        axis = max(range(3), key=lambda i: max(p[i] for p in box) - min(p[i] for p in box))
        box.sort(key=lambda p: p[axis])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    palette = []
    for b in boxes:
        n = len(b)
        palette.append(tuple(int(round(sum(p[i] for p in b) / n)) for i in range(3)))
    while len(palette) < count:
        palette.append((0, 0, 0))
    return palette


def nearest(palette, cache, colour):
    found = cache.get(colour)
    if found is None:
        found = min(range(len(palette)),
                    key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))
        cache[colour] = found
    return found


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def indexed_256(pixels):
    every = [p for row in pixels for p in row]
    palette = median_cut(list(every), 256)
    cache = {}
    return palette, [[nearest(palette, cache, p) for p in row] for row in pixels]


def indexed_16(pixels):
    cache = {}
    rows = []
    for y, row in enumerate(pixels):
        out = []
        for x, p in enumerate(row):
            d = (BAYER[y % 4][x % 4] - 7.5) * 4
            q = tuple(min(255, max(0, int(v + d))) for v in p)
            out.append(nearest(VGA16, cache, q))
        rows.append(out)
    return VGA16, rows


# --- the bitmap file


def bmp(palette, rows, bits):
    height, width = len(rows), len(rows[0])
    stride = ((width * bits + 31) // 32) * 4
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bits == 8:
            line += bytes(row)
        else:
            for x in range(0, width, 2):
                hi = row[x]
                lo = row[x + 1] if x + 1 < width else 0
                line.append(hi << 4 | lo)
        line += b"\0" * (stride - len(line))
        data += line
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(data), 2835, 2835,
                         len(palette), 0)
    offset = 14 + len(header) + len(table)
    return struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) + header + table + bytes(data)


def main(argv):
    if len(argv) != 1:
        print(__doc__)
        return 2
    out = argv[0]
    os.makedirs(out, exist_ok=True)
    full = draw(*FULL)
    small = draw(*SMALL)
    for name, (palette, rows), bits in (("WIZ_DEFAULT_BMP256B", indexed_256(full), 8),
                                        ("WIZ_DEFAULT_BMP", indexed_256(small), 8),
                                        ("WIZ_DEFAULT_BMP16", indexed_16(small), 4)):
        with open(os.path.join(out, name.lower() + ".bmp"), "wb") as f:
            f.write(bmp(palette, rows, bits))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
