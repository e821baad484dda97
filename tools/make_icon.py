#!/usr/bin/env python3
"""Writes res/duotint.ico: duotint's application icon at 16, 32 and 48 pixels.

The picture: a rounded tile split on its diagonal into a warm and a cool tint,
with a hill and a sun drawn in a lighter shade of each, as if one picture had
been tinted twice. Drawn with 4 x 4 supersampling, stored as 32-bit images
with alpha (and the AND mask older readers want). Run it again after a change:
    python3 tools/make_icon.py
"""
import os
import struct

WARM = (232, 134, 44)    # r, g, b
COOL = (38, 110, 196)
SIZES = (16, 32, 48)
SUPER = 4


def shade(colour, amount):
    """colour moved towards white by amount (0..1)."""
    return tuple(round(c + (255 - c) * amount) for c in colour)


def sample(u, v):
    """The picture at (u, v) in 0..1, y down: (r, g, b, a) or None outside."""
    radius = 0.2
    # Outside the rounded corners of the tile.
    cx = min(max(u, radius), 1 - radius)
    cy = min(max(v, radius), 1 - radius)
    if (u - cx) ** 2 + (v - cy) ** 2 > radius ** 2:
        return None
    tint = WARM if u + v < 1 else COOL
    colour = tint
    if (u - 0.68) ** 2 + (v - 0.3) ** 2 < 0.14 ** 2:   # the sun
        colour = shade(tint, 0.75)
    elif v > 0.62 + 0.18 * ((u - 0.35) * 2.2) ** 2:     # the hill
        colour = shade(tint, 0.4)
    return colour + (255,)


def image(size):
    """Bottom-up BGRA rows and the AND mask of a size x size icon image."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            total = [0, 0, 0, 0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    s = sample((x + (sx + 0.5) / SUPER) / size, (y + (sy + 0.5) / SUPER) / size)
                    if s is not None:
                        for i in range(3):
                            total[i] += s[i] * s[3]
                        total[3] += s[3]
            n = SUPER * SUPER
            alpha = total[3] / n
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                r, g, b = (round(total[i] / total[3]) for i in range(3))
                row.append((b, g, r, round(alpha)))
        rows.append(row)
    rows.reverse()  # BMP rows are stored bottom-up
    pixels = b"".join(bytes(p) for row in rows for p in row)
    mask_stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in rows:
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:  # transparent where the image is
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return pixels, bytes(mask)


def icon():
    entries, blobs = [], []
    offset = 6 + 16 * len(SIZES)
    for size in SIZES:
        pixels, mask = image(size)
        # BITMAPINFOHEADER; the height counts the image and its mask.
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        blob = header + pixels + mask
        entries.append(struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(SIZES)) + b"".join(entries) + b"".join(blobs)


if __name__ == "__main__":
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = os.path.join(root, "res", "duotint.ico")
    with open(path, "wb") as f:
        f.write(icon())
    print("icon:", path)
