#!/usr/bin/env python3
"""Draws the application icon and writes it as a Windows icon file with nine
uncompressed bitmaps (32 px 24-bit; 16, 20, 24, 40, 48, 64, 128 and 256 px
32-bit with alpha: every size Windows shows at 100 to 250 %) and as PNG files in
the sizes a Linux desktop looks for. Standard library only.

    scripts/make-icon.py [output-folder]   (default: src/layouts/icons)
"""
import math
import os
import struct
import sys
import zlib

ICO_SIZES = [(16, 32), (20, 32), (24, 32), (32, 24), (40, 32), (48, 32), (64, 32),
             (128, 32), (256, 32)]
PNG_SIZES = [16, 24, 32, 48, 64, 128, 256]


def coverage(size, fx, fy):
    """Colour (r, g, b) and alpha of the artwork at a point in the unit square."""
    # A rounded dark tile with a bright flash in the middle and rays. Small
    # sizes get a one-pixel margin, a bigger core and four broad rays instead
    # of eight thin ones, which would blur into a grey disc.
    small = size <= 24
    margin = 1.0 / size if small else 0.04
    radius = 0.2
    dx = max(abs(fx - 0.5) - (0.5 - margin - radius), 0.0)
    dy = max(abs(fy - 0.5) - (0.5 - margin - radius), 0.0)
    if math.hypot(dx, dy) > radius:
        return (0, 0, 0), 0.0
    cx, cy = fx - 0.5, fy - 0.5
    r = math.hypot(cx, cy)
    angle = math.atan2(cy, cx)
    if small:
        ray = abs(math.cos(2 * angle)) ** 8
        glow = max(0.0, 1.0 - r / 0.46)
        core = 1.0 if r < 0.2 else 0.0
        light = min(1.0, core + glow * 1.6 * ray)
    else:
        ray = abs(math.cos(4 * angle)) ** 6
        glow = max(0.0, 1.0 - r / 0.42)
        core = 1.0 if r < 0.16 else 0.0
        light = min(1.0, core + glow * (0.35 + 0.65 * ray))
    base = (24, 26, 48)
    flash = (255, 244, 170)
    colour = tuple(int(b + (f - b) * light) for b, f in zip(base, flash))
    return colour, 1.0


def render(size):
    """Rows of (r, g, b, a) bytes, top row first, 4x4 supersampled."""
    n = 4
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    (r, g, b), a = coverage(size, (x + (sx + 0.5) / n) / size,
                                            (y + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / (n * n)
            if acc[3] > 0:
                rgb = [int(round(c / acc[3])) for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], int(round(a * 255))))
        rows.append(row)
    return rows


def bmp_entry(rows, bits):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    and_mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bitmaps are stored bottom-up
        line = bytearray()
        for r, g, b, a in row:
            if bits == 32:
                line += bytes((b, g, r, a))
            else:
                # 24-bit has no alpha: transparent pixels take the mask instead.
                line += bytes((b, g, r)) if a >= 128 else bytes((0, 0, 0))
        while len(line) % 4:
            line.append(0)
        xor += line
        mask = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                mask[x // 8] |= 0x80 >> (x % 8)
        and_mask += mask
    return header + bytes(xor) + bytes(and_mask)


def write_ico(path, images):
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        dim = 0 if size >= 256 else size
        entries.append(struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, bits, len(data), offset))
        blobs.append(data)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, len(images)))
        f.write(b''.join(entries))
        f.write(b''.join(blobs))


def write_png(path, rows):
    size = len(rows)
    raw = b''.join(b'\x00' + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data
                + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))

    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n')
        f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b'IDAT', zlib.compress(raw, 9)))
        f.write(chunk(b'IEND', b''))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'layouts', 'icons')
    os.makedirs(out, exist_ok=True)
    cache = {}
    for size in sorted(set(PNG_SIZES) | {s for s, _ in ICO_SIZES}):
        cache[size] = render(size)
    write_ico(os.path.join(out, 'lumivex.ico'),
              [(s, bits, bmp_entry(cache[s], bits)) for s, bits in ICO_SIZES])
    for size in PNG_SIZES:
        write_png(os.path.join(out, 'lumivex-%d.png' % size), cache[size])


if __name__ == '__main__':
    main()
