#!/usr/bin/env python3
"""make_icon.py OUT.ico -- draws the updater's icon (an upward arrow on a round badge) in 16, 32 and 48 pixels."""
import struct
import sys

SIZES = (16, 32, 48)
SAMPLES = 4  # per axis, for smooth edges


def inside_arrow(x, y):
    """The arrow in unit coordinates (0..1, y downward): a head over a shaft."""
    if 0.22 <= y <= 0.52:
        return abs(x - 0.5) <= (y - 0.22) * 0.9
    return 0.52 < y <= 0.80 and abs(x - 0.5) <= 0.12


def pixel(size, px, py):
    """Premultiplied-free BGRA of one pixel, averaged over SAMPLES x SAMPLES points."""
    r = g = b = a = 0.0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            d2 = (x - 0.5) ** 2 + (y - 0.5) ** 2
            if d2 > 0.47 ** 2:
                continue
            if inside_arrow(x, y):
                cr, cg, cb = 250, 250, 240
            elif d2 > 0.42 ** 2:
                cr, cg, cb = 20, 60, 70  # rim
            else:
                t = y  # teal at the top, deep blue at the bottom
                cr, cg, cb = 20 + 10 * t, 150 - 80 * t, 160 + 40 * t
            r, g, b, a = r + cr, g + cg, b + cb, a + 1
    n = SAMPLES * SAMPLES
    if a == 0:
        return bytes((0, 0, 0, 0))
    return bytes((int(b / a), int(g / a), int(r / a), int(255 * a / n)))


def image(size):
    """One icon image: BITMAPINFOHEADER, bottom-up 32-bit pixels, an all-zero AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = [b"".join(pixel(size, x, y) for x in range(size)) for y in range(size)]
    pixels = b"".join(reversed(rows))
    mask_row = ((size + 31) // 32) * 4
    return header + pixels + bytes(mask_row * size)


def main():
    images = [image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
