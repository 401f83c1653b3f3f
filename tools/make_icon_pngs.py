#!/usr/bin/env python3
"""Draw the Linux front end's icons as PNG files, from the same geometry and
colours as the Windows icons (tools/make_icons.py).

    python3 tools/make_icon_pngs.py [output-folder]      (default res/linux/icons)

    orlimo-N.png        the program's icon (yellow and orange ribbon), for
                        the hicolor theme and the normal tray picture, at
                        16, 22, 24, 32, 48, 64, 128 and 256 pixels
    orlimo-white-N.png  the white ribbon: network failure and the second
                        blink picture, at the tray sizes 16 to 64

Standard library only (zlib for the PNG data). Slow at the large sizes
(about a minute for 256 pixels): the files are kept in the repository, like
the .ico files.
"""

import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_icons  # noqa: E402

HICOLOR_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
TRAY_SIZES = (16, 22, 24, 32, 48, 64)


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_bytes(img):
    """RGBA PNG of rows of (r, g, b, a) floats, alpha 0..1 (not premultiplied)."""
    size = len(img)
    raw = bytearray()
    for row in img:
        raw.append(0)  # filter: none
        for r, g, b, a in row:
            a8 = make_icons._clamp8(a * 255)
            if a8 == 0:
                raw += b"\0\0\0\0"
            else:
                raw += bytes((make_icons._clamp8(r), make_icons._clamp8(g), make_icons._clamp8(b), a8))
    return (b"\x89PNG\r\n\x1a\n"
            + _chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + _chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res", "linux", "icons")
    outdir = os.path.normpath(outdir)
    os.makedirs(outdir, exist_ok=True)
    jobs = [("orlimo-%d.png" % s, s, "colour") for s in HICOLOR_SIZES]
    jobs += [("orlimo-white-%d.png" % s, s, "white") for s in TRAY_SIZES]
    for name, size, palette in jobs:
        path = os.path.join(outdir, name)
        with open(path, "wb") as f:
            f.write(png_bytes(make_icons.render(size, palette)))
        print(path)


if __name__ == "__main__":
    main()
