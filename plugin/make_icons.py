#!/usr/bin/env python3
"""Draws the button's icons into extension/icons/: a page with a folded
corner and a "convert" band, in colour (hot-N.png, shown while a conversion
runs) and in greys (normal-N.png, the button's usual look)."""
import os
import struct
import zlib

SIZES = (16, 32, 48, 128)
HERE = os.path.dirname(os.path.abspath(__file__))


def png(path, size, pixels):
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def grey(c):
    v = int(0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2])
    return (v, v, v, c[3])


def draw(size, hot):
    s = size / 16.0
    outline, paper, fold = (70, 70, 80, 255), (255, 255, 255, 255), (200, 200, 210, 255)
    band, arrow = (198, 40, 40, 255), (255, 255, 255, 255)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s  # in 16-unit space
            c = (0, 0, 0, 0)
            inside = 2.5 <= fx <= 13.5 and 0.5 <= fy <= 15.5
            corner = fx - 9.5 > fy - 0.5  # cut off by the fold
            if inside and not corner:
                edge = fx < 2.5 + 1 / s or fx > 13.5 - 1 / s or fy < 0.5 + 1 / s or fy > 15.5 - 1 / s
                c = outline if edge else paper
                if abs((fx - 9.5) - (fy - 0.5)) < 0.9 / s + 0.2:
                    c = outline
                if 9.5 <= fx <= 13.5 and fy <= 4.5 and fx - 9.5 <= fy - 0.5 + 0.1:
                    c = fold
                if 1.0 <= fx <= 15.0 and 8.5 <= fy <= 14.0:
                    c = band
                    # A downward arrow inside the band.
                    if (7.2 <= fx <= 8.8 and 9.2 <= fy <= 11.2) or (fy >= 11.2 and abs(fx - 8.0) <= 13.2 - fy):
                        c = arrow
            elif 1.0 <= fx <= 15.0 and 8.5 <= fy <= 14.0:
                c = band
                if (7.2 <= fx <= 8.8 and 9.2 <= fy <= 11.2) or (fy >= 11.2 and abs(fx - 8.0) <= 13.2 - fy):
                    c = arrow
            row.append(c if hot else grey(c))
        rows.append(row)
    return rows


for n in SIZES:
    png(os.path.join(HERE, "extension", "icons", "hot-%d.png" % n), n, draw(n, True))
    png(os.path.join(HERE, "extension", "icons", "normal-%d.png" % n), n, draw(n, False))
