#!/usr/bin/env python3
"""Draw orlimo's icons and write them as .ico files into res/.

Standard library only. The picture is a folded ribbon: one band that rises
from the lower left tail, loops over the top and comes down across itself
to the lower right tail. Every size is rendered from the same geometry with
supersampling, so the small tray sizes stay sharp instead of being scaled
down from a large bitmap.

    ribbon.ico        program and frame icon (yellow and orange)
    ribbon2.ico       variant: mirrored, the other strand in front
    tray_normal.ico   normal tray icon, same picture as ribbon.ico
    tray_white.ico    network failure / second blink phase: white ribbon
                      with a grey outline, readable on light and dark bars
    shortcut.ico      shortcut icon: one 32x32 image, 24 bits per pixel

ribbon.ico carries 16, 32 and 48 pixel images, the tray icons 16, 20, 24
and 32, the variant 16 and 32; all 32-bit BGRA with AND masks. Usage: python3 tools/make_icons.py [output-folder]
"""

import math
import os
import struct
import sys

SIZES = (16, 20, 24, 32, 48)
TRAY_SIZES = (16, 20, 24, 32)

# --- geometry (unit square, y grows downwards) ------------------------------


def _bezier(p0, p1, p2, p3, n):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1.0 - t
        x = u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0]
        y = u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]
        pts.append((x, y))
    return pts


def _join(*parts):
    out = []
    for part in parts:
        if out and part and math.dist(out[-1], part[0]) < 1e-9:
            part = part[1:]
        out.extend(part)
    return out


def ribbon_strands(mirror=False):
    """Return (back, front): two polylines of the ribbon's centre line.

    back  runs from the left tail up through the crossing, round the loop
          and down its left side;
    front starts on the loop's left side (overlapping back there, so the
          joint is invisible) and runs down across back to the right tail.
    """
    n = 24
    # left tail end -> crossing -> right side of the loop
    a = _bezier((0.22, 0.96), (0.36, 0.74), (0.62, 0.54), (0.70, 0.34), n)
    # right side -> top of the loop -> left side
    b = _bezier((0.70, 0.34), (0.78, 0.12), (0.58, 0.03), (0.50, 0.03), n)
    c = _bezier((0.50, 0.03), (0.42, 0.03), (0.22, 0.12), (0.30, 0.34), n)
    # left side -> crossing -> right tail end
    d = _bezier((0.30, 0.34), (0.38, 0.54), (0.64, 0.74), (0.78, 0.96), n)
    c_tail = c[n // 2:]
    back = _join(a, b, c)
    front = _join(c_tail, d)
    if mirror:
        back = [(1.0 - x, y) for x, y in back]
        front = [(1.0 - x, y) for x, y in front]
    return back, front


# --- rasterisation -----------------------------------------------------------


class Strand:
    """A band of constant width along a polyline, butt ends at both ends.

    The tail end (the polyline's last point for front, first for back) is
    cut horizontally at the bottom edge of the picture.
    """

    def __init__(self, pts, scale):
        self.pts = [(x * scale, y * scale) for x, y in pts]
        self.segs = []
        total = 0.0
        for (x0, y0), (x1, y1) in zip(self.pts, self.pts[1:]):
            dx, dy = x1 - x0, y1 - y0
            ln = math.hypot(dx, dy)
            if ln > 0:
                self.segs.append((x0, y0, dx, dy, ln, total))
                total += ln
        self.length = total
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        self.bbox = (min(xs), min(ys), max(xs), max(ys))

    def query(self, px, py):
        """Distance to the centre line, signed side, arc position."""
        best = (1e18, 0.0, 0.0)
        for x0, y0, dx, dy, ln, s0 in self.segs:
            t = ((px - x0) * dx + (py - y0) * dy) / (ln * ln)
            t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
            cx, cy = x0 + t * dx, y0 + t * dy
            d2 = (px - cx) ** 2 + (py - cy) ** 2
            if d2 < best[0]:
                side = (dx * (py - y0) - dy * (px - x0)) / ln
                best = (d2, side, s0 + t * ln)
        return math.sqrt(best[0]), best[1], best[2]


def _smooth(e0, e1, x):
    t = (x - e0) / (e1 - e0)
    t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
    return t * t * (3.0 - 2.0 * t)


def _mix(c0, c1, t):
    t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


PALETTES = {
    "colour": {
        "outline": (92, 44, 8),
        "back": ((236, 120, 16), (252, 160, 36)),    # orange, inner to outer
        "front": ((255, 236, 96), (252, 196, 24)),   # light yellow to yellow
    },
    "white": {
        "outline": (96, 96, 96),
        "back": ((214, 214, 214), (236, 236, 236)),
        "front": ((255, 255, 255), (246, 246, 246)),
    },
}


def render(size, palette, mirror=False, ss=None):
    """Render the ribbon at size x size; returns rows of (r, g, b, a) floats."""
    pal = PALETTES[palette]
    ss = ss or (8 if size <= 24 else 6 if size <= 32 else 4)
    # Band and outline widths in pixels, chosen so the loop's hole stays
    # open at 16 pixels and the outline is one pixel there.
    outline = max(1.0, size / 20.0)
    half_fill = size * 0.085
    if size <= 16:
        half_fill = 1.55
    half_out = half_fill + outline
    bottom = size - 0.5 if size > 16 else size  # tail cut line, y in pixels

    back_pts, front_pts = ribbon_strands(mirror)
    strands = [("back", Strand(back_pts, size)), ("front", Strand(front_pts, size))]

    img = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    px = x + (sx + 0.5) / ss
                    py = y + (sy + 0.5) / ss
                    colour = None
                    for name, st in strands:  # later strands paint over
                        x0, y0, x1, y1 = st.bbox
                        if px < x0 - half_out or px > x1 + half_out or py < y0 - half_out or py > y1 + half_out:
                            continue
                        d, side, s = st.query(px, py)
                        if d >= half_out or s <= 0.0 or s >= st.length:
                            continue
                        if py >= bottom:
                            continue
                        tail_cut = py >= bottom - outline
                        if d < half_fill and not tail_cut:
                            # shade across the band, light from the upper left
                            t = 0.5 + 0.5 * (side / half_fill)
                            colour = _mix(*pal["front"], t)
                            if name == "back":
                                # the strand behind is darker up to the top of
                                # the loop, then turns into the front colour,
                                # so the two strands join without a seam
                                k = _smooth(0.50, 0.80, s / st.length)
                                colour = _mix(_mix(*pal["back"], t), colour, k)
                        else:
                            colour = pal["outline"]
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1.0
            n = ss * ss
            if acc[3] > 0:
                row.append((acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3], acc[3] / n))
            else:
                row.append((0.0, 0.0, 0.0, 0.0))
        img.append(row)
    return img


# --- .ico writing ------------------------------------------------------------


def _clamp8(v):
    return max(0, min(255, int(round(v))))


def _and_mask(img, threshold):
    size = len(img)
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(img):
        bits = bytearray(stride)
        for x, px in enumerate(row):
            if px[3] < threshold:
                bits[x >> 3] |= 0x80 >> (x & 7)
        out += bits
    return bytes(out)


def dib_32(img):
    size = len(img)
    xor = bytearray()
    for row in reversed(img):
        for r, g, b, a in row:
            a8 = _clamp8(a * 255)
            if a8 == 0:
                xor += b"\0\0\0\0"
            else:
                xor += bytes((_clamp8(b), _clamp8(g), _clamp8(r), a8))
    mask = _and_mask(img, 0.5)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + mask, 32


def dib_24(img):
    size = len(img)
    stride = ((size * 3 + 3) // 4) * 4
    xor = bytearray()
    for row in reversed(img):
        line = bytearray()
        for r, g, b, a in row:
            if a < 0.5:
                line += b"\0\0\0"  # transparent: AND 1, XOR black
            else:
                line += bytes((_clamp8(b), _clamp8(g), _clamp8(r)))
        line += bytes(stride - len(line))
        xor += line
    mask = _and_mask(img, 0.5)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + mask, 24


def write_ico(path, images):
    """images: list of (size, dib bytes, bit count)."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    blobs = b""
    for size, dib, bpp in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bpp,
                               len(dib), offset + len(blobs))
        blobs += dib
    with open(path, "wb") as f:
        f.write(head + entries + blobs)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res")
    outdir = os.path.normpath(outdir)
    os.makedirs(outdir, exist_ok=True)

    colour = {s: render(s, "colour") for s in SIZES}
    mirrored = {s: render(s, "colour", mirror=True) for s in SIZES}
    white = {s: render(s, "white") for s in SIZES}

    def multi(images, sizes=SIZES):
        return [(s,) + dib_32(images[s]) for s in sizes]

    # The tray shows icons at the small-icon size (16 px, 20 and 24 at 125 %
    # and 150 %, 32 at 200 %); the program icon is shown at 16, 32 and 48 px
    # by Explorer and the about box, and the variant is never shown. Fewer images keep the
    # program small.
    files = {
        "ribbon.ico": multi(colour, (16, 32, 48)),
        "ribbon2.ico": multi(mirrored, (16, 32)),
        "tray_normal.ico": multi(colour, TRAY_SIZES),
        "tray_white.ico": multi(white, TRAY_SIZES),
        "shortcut.ico": [(32,) + dib_24(colour[32])],
    }
    for name, images in files.items():
        path = os.path.join(outdir, name)
        write_ico(path, images)
        print(path)


if __name__ == "__main__":
    main()
