#!/usr/bin/env python3
"""Makes the small test pictures of this folder, and prints the reference
hashes of the BMP corpus's g/ pictures, from a BMP reader of its own that
shares nothing with the program's decoders.

    python3 make_pictures.py            # writes the pictures here
    python3 make_pictures.py BMPSUITE/g # prints the hash table

A hash is FNV-1a 64 over the pixels as the program's sourceImage holds them
without row padding: rows bottom-up, blue, green, red.
"""
import os, struct, subprocess, sys, tempfile, zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(path, width, height, colour_type, depth, rows, palette=None):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + bytes(r) for r in rows)
    out = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, depth, colour_type, 0, 0, 0))
    if palette:
        out += chunk(b'PLTE', bytes(c for rgb in palette for c in rgb))
    out += chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')
    open(os.path.join(HERE, path), 'wb').write(out)


# The formulas the unit tests repeat to know what each picture holds.
def alpha_pixel(x, y):  # red, green, blue, alpha; alpha 0 and 255 both occur
    return ((x * 53 + y * 91) % 256, (x * 29 + y * 7 + 40) % 256, (x * 17 + y * 113 + 14) % 256,
            [0, 255, 1, 128, 254][(x + 2 * y) % 5])


def colour_pixel(x, y):
    return ((x * 60 + y * 20) % 256, (x * 7 + y * 90 + 5) % 256, (x * 33 + y * 71 + 100) % 256)


def make_pictures():
    png('alpha.png', 5, 3, 6, 8, [[c for x in range(5) for c in alpha_pixel(x, y)] for y in range(3)])
    # 16 bits a channel, each value a byte repeated, so any fair reduction to 8 bits gives that byte.
    png('rgb16.png', 5, 3, 2, 16, [[c for x in range(5) for v in colour_pixel(x, y) for c in (v, v)] for y in range(3)])
    png('grey.png', 7, 2, 0, 8, [[(x * 37 + y * 101) % 256 for x in range(7)] for y in range(2)])
    png('palette.png', 3, 3, 3, 8, [[(x + y) % 4 for x in range(3)] for y in range(3)],
        palette=[(250, 10, 20), (30, 240, 50), (60, 70, 230), (200, 190, 0)])
    make_gif('palette.gif', 3, 3, [[(x + y) % 4 for x in range(3)] for y in range(3)],
             [(250, 10, 20), (30, 240, 50), (60, 70, 230), (200, 190, 0)])
    # The same, then a frame of 65535 x 65535 whose pixels never come: only the first frame is shown.
    make_gif('frames.gif', 3, 3, [[(x + y) % 4 for x in range(3)] for y in range(3)],
             [(250, 10, 20), (30, 240, 50), (60, 70, 230), (200, 190, 0)],
             more=b',' + struct.pack('<HHHHB', 0, 0, 65535, 65535, 0) + b'\x02\x01\x04\0')
    make_tiff('rgb.tif', 5, 3, [[c for x in range(5) for c in colour_pixel(x, y)] for y in range(3)])
    make_turned_jpeg()
    # A plain 16 x 16 first, then 48 x 48 by colour_pixel: the larger is the one shown.
    make_ico('sizes.ico', [(16, lambda x, y: (200, 30, 90)), (48, colour_pixel)])
    make_camera_jpeg()


def make_ico(path, images):
    """An icon of square 24-bit images, each (size, pixel), with an all-opaque mask."""
    out, data = struct.pack('<HHH', 0, 1, len(images)), b''
    for size, pixel in images:
        rows = b''.join(bytes(c for x in range(size) for c in pixel(x, y)[::-1]).ljust((3 * size + 3) // 4 * 4, b'\0')
                        for y in reversed(range(size)))
        # The height counts the image and its mask (1 bit a pixel) together.
        dib = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 24, 0, 0, 0, 0, 0, 0) + rows + \
            bytes((size + 31) // 32 * 4 * size)
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 24, len(dib), 6 + 16 * len(images) + len(data))
        data += dib
    open(os.path.join(HERE, path), 'wb').write(out + data)


def make_gif(path, width, height, rows, palette, more=b''):
    """One frame of 2-bit colour indices. The LZW stream sends a clear code before every two pixels, so the code width stays 3 bits."""
    pixels = [p for r in rows for p in r]
    codes = []
    for i in range(0, len(pixels), 2):
        codes += [4] + pixels[i:i + 2]
    codes.append(5)
    bits = ''.join(format(c, '03b')[::-1] for c in codes)
    bits += '0' * (-len(bits) % 8)
    data = bytes(int(bits[i:i + 8][::-1], 2) for i in range(0, len(bits), 8))
    out = b'GIF89a' + struct.pack('<HHBBB', width, height, 0xF1, 0, 0)
    out += bytes(c for rgb in palette for c in rgb)
    out += b',' + struct.pack('<HHHHB', 0, 0, width, height, 0) + b'\x02' + bytes([len(data)]) + data + b'\0' + more + b';'
    open(os.path.join(HERE, path), 'wb').write(out)


def make_tiff(path, width, height, rows):
    """Uncompressed 8-bit RGB, one strip."""
    pixels = b''.join(bytes(r) for r in rows)
    entries = [(256, 3, 1, width), (257, 3, 1, height), (258, 3, 3, 0), (259, 3, 1, 1), (262, 3, 1, 2),
               (273, 4, 1, 0), (277, 3, 1, 3), (278, 3, 1, height), (279, 4, 1, len(pixels)), (284, 3, 1, 1)]
    ifd_size = 2 + 12 * len(entries) + 4
    bits_at = 8 + ifd_size
    pixels_at = bits_at + 6
    ifd = struct.pack('<H', len(entries))
    for tag, kind, count, value in entries:
        value = {258: bits_at, 273: pixels_at}.get(tag, value)
        ifd += struct.pack('<HHI', tag, kind, count) + (struct.pack('<HH', value, 0) if kind == 3 and count == 1
                                                         else struct.pack('<I', value))
    ifd += struct.pack('<I', 0)
    out = b'II*\0' + struct.pack('<I', 8) + ifd + struct.pack('<HHH', 8, 8, 8) + pixels
    open(os.path.join(HERE, path), 'wb').write(out)


JPEG_WRITER = r'''
#include <stdio.h>
#include <jpeglib.h>
int main(int argc, char** argv) {
    /* 32 x 16: the left half red above green, the right half blue; the parts
       keep to whole 8 x 8 blocks, so their colours stay clean. */
    struct jpeg_compress_struct c; struct jpeg_error_mgr e; unsigned char row[32 * 3]; JSAMPROW rows[1] = {row};
    FILE* f = fopen(argv[1], "wb");
    c.err = jpeg_std_error(&e); jpeg_create_compress(&c); jpeg_stdio_dest(&c, f);
    c.image_width = 32; c.image_height = 16; c.input_components = 3; c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c); jpeg_set_quality(&c, 100, TRUE);
    c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;  /* full-resolution colour */
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            int left = x < 16;
            row[3*x] = left && y < 8 ? 220 : 20; row[3*x+1] = left && y >= 8 ? 220 : 20; row[3*x+2] = left ? 20 : 220;
        }
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c); fclose(f); return 0;
}
'''


def make_turned_jpeg():
    """turned6.jpg: the 32 x 16 JPEG above with EXIF orientation 6 (turn a quarter clockwise to view)."""
    with tempfile.TemporaryDirectory() as tmp:
        open(os.path.join(tmp, 'w.c'), 'w').write(JPEG_WRITER)
        subprocess.check_call(['gcc', '-o', os.path.join(tmp, 'w'), os.path.join(tmp, 'w.c'), '-ljpeg'])
        subprocess.check_call([os.path.join(tmp, 'w'), os.path.join(tmp, 'p.jpg')])
        jpeg = open(os.path.join(tmp, 'p.jpg'), 'rb').read()
    # Little-endian TIFF with one IFD of one entry: Orientation (274), SHORT, 1, value 6.
    tiff = b'II*\0' + struct.pack('<I', 8) + struct.pack('<H', 1) + struct.pack('<HHIHH', 274, 3, 1, 6, 0) + \
        struct.pack('<I', 0)
    app1 = b'Exif\0\0' + tiff
    segment = b'\xff\xe1' + struct.pack('>H', len(app1) + 2) + app1
    # After SOI; the JFIF APP0 goes, as cameras write EXIF first.
    assert jpeg[2:4] == b'\xff\xe0'
    app0_end = 4 + struct.unpack('>H', jpeg[4:6])[0]
    open(os.path.join(HERE, 'turned6.jpg'), 'wb').write(jpeg[:2] + segment + jpeg[app0_end:])


def make_camera_jpeg():
    """camera.jpg: turned6.jpg (orientation 6) as a camera leaves it, written by Debian's exiftool: make,
    model, artist, date taken, stored size 32 x 16, a thumbnail (turned6.jpg itself), XMP, and a version 2
    RGB display profile "Duotint Test RGB" holding only its description (no Unicode, no ScriptCode)."""
    desc = b'desc' + bytes(4) + struct.pack('>I', 17) + b'Duotint Test RGB\0' + bytes(79)
    profile = struct.pack('>I', 144 + len(desc)) + bytes(4) + struct.pack('>I', 0x02100000) + b'mntrRGB XYZ ' + \
        bytes(12) + b'acsp' + bytes(28) + struct.pack('>iii', 63190, 65536, 54061) + bytes(48) + \
        struct.pack('>I4sII', 1, b'desc', 144, len(desc)) + desc
    turned, out = os.path.join(HERE, 'turned6.jpg'), os.path.join(HERE, 'camera.jpg')
    with tempfile.TemporaryDirectory() as tmp:
        open(os.path.join(tmp, 'p.icc'), 'wb').write(profile)
        subprocess.check_call(['exiftool', '-q', '-o', out, '-Make=Duotint Optical', '-Model=DT-6 Mark II',
                               '-Artist=Ada Photographer', '-DateTimeOriginal=2024:05:17 09:30:00',
                               '-ExifImageWidth=32', '-ExifImageHeight=16', '-XMP-dc:Creator=Ada Photographer',
                               '-ThumbnailImage<=' + turned, '-ICC_Profile<=' + os.path.join(tmp, 'p.icc'), turned])


def bits_to_8(v, n):
    """An n-bit value widened to 8 bits by repeating its bits, as Windows does."""
    if n == 0:
        return 0
    if n >= 8:
        return v >> (n - 8)
    out, have = 0, 0
    while have < 8:
        out = (out << n) | v
        have += n
    return out >> (have - 8)


def read_bmp(data):
    """Bottom-up rows of (blue, green, red) triples."""
    offset, = struct.unpack_from('<I', data, 10)
    info, = struct.unpack_from('<I', data, 14)
    if info == 12:
        w, h, planes, bpp = struct.unpack_from('<hhHH', data, 18)
        comp, used, entry = 0, 0, 3
    else:
        w, h, planes, bpp, comp = struct.unpack_from('<iiHHI', data, 18)
        used, = struct.unpack_from('<I', data, 46)
        entry = 4
    masks = None
    if comp == 3:
        masks = struct.unpack_from('<III', data, 54 if info == 40 else 54)
    elif bpp == 16:
        masks = (0x7C00, 0x03E0, 0x001F)
    elif bpp == 32:
        masks = (0xFF0000, 0xFF00, 0xFF)
    palette = []
    if bpp <= 8:
        count = used or (1 << bpp)
        start = 14 + info
        palette = [tuple(data[start + i * entry:start + i * entry + 3]) for i in range(count)]
    top_down = h < 0
    h = abs(h)
    idx = [[0] * w for _ in range(h)]  # rows as stored, bottom-up unless top_down
    if comp in (1, 2):
        x = y = 0
        p = offset
        while p < len(data):
            n, v = data[p], data[p + 1]
            p += 2
            if n:
                for i in range(n):
                    val = v if comp == 1 else (v >> 4 if i % 2 == 0 else v & 15)
                    if x < w and y < h:
                        idx[y][x] = val
                    x += 1
            elif v == 0:
                x, y = 0, y + 1
            elif v == 1:
                break
            elif v == 2:
                x, y = x + data[p], y + data[p + 1]
                p += 2
            else:
                nbytes = v if comp == 1 else (v + 1) // 2
                for i in range(v):
                    val = data[p + i] if comp == 1 else (data[p + i // 2] >> 4 if i % 2 == 0 else data[p + i // 2] & 15)
                    if x < w and y < h:
                        idx[y][x] = val
                    x += 1
                p += nbytes + (nbytes & 1)
        rows = [[palette[i][:3] for i in r] for r in idx]
    else:
        stride = (w * bpp + 31) // 32 * 4
        rows = []
        for y in range(h):
            line = data[offset + y * stride:offset + (y + 1) * stride]
            row = []
            for x in range(w):
                if bpp <= 8:
                    byte = line[x * bpp // 8]
                    shift = 8 - bpp - (x * bpp % 8)
                    row.append(palette[(byte >> shift) & ((1 << bpp) - 1)][:3])
                elif bpp == 24:
                    row.append(tuple(line[3 * x:3 * x + 3]))
                else:
                    v = int.from_bytes(line[x * bpp // 8:(x + 1) * bpp // 8], 'little')
                    rgb = []
                    for m in masks:
                        s = (m & -m).bit_length() - 1 if m else 0
                        n = bin(m).count('1')
                        rgb.append(bits_to_8((v & m) >> s, n))
                    row.append((rgb[2], rgb[1], rgb[0]))
            rows.append(row)
    if top_down:
        rows.reverse()
    return w, h, rows


def fnv(rows):
    value = 0xcbf29ce484222325
    for row in rows:
        for pixel in row:
            for b in pixel:
                value = ((value ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return value


if __name__ == '__main__':
    if len(sys.argv) > 1:
        for name in sorted(os.listdir(sys.argv[1])):
            w, h, rows = read_bmp(open(os.path.join(sys.argv[1], name), 'rb').read())
            print('        {"%s", %d, %d, 0x%016XULL},' % (name, w, h, fnv(rows)))
    else:
        make_pictures()
