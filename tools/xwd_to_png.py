#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Cuts a rectangle out of an xwd screen dump and saves it as PNG, optionally laying a
window's own xwd dump over the screen first (Xvfb can leave a window unpainted on the screen
while the window itself holds the right picture).

   xwd_to_png.py SCREEN.xwd OUT.png LEFT TOP WIDTH HEIGHT [WINDOW.xwd X Y]"""
import struct
import sys
import zlib


def load(path):
    data = open(path, 'rb').read()
    header = struct.unpack('>25I', data[:100])
    size, width, height = header[0], header[4], header[5]
    order, bits, line = header[7], header[11], header[12]
    masks, colours = header[14:17], header[19]
    pixels = data[size + colours * 12:]
    step = bits // 8
    endian = 'little' if order == 0 else 'big'
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    rows = []
    for y in range(height):
        row = pixels[y * line:(y + 1) * line]
        rgb = bytearray()
        for x in range(width):
            value = int.from_bytes(row[x * step:(x + 1) * step], endian)
            rgb += bytes((value & m) >> s for m, s in zip(masks, shifts))
        rows.append(rgb)
    return width, height, rows


def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))


def main():
    target = sys.argv[2]
    left, top, width, height = (int(v) for v in sys.argv[3:7])
    screen_w, screen_h, screen = load(sys.argv[1])
    if len(sys.argv) > 7:
        ow, oh, window = load(sys.argv[7])
        ox, oy = int(sys.argv[8]), int(sys.argv[9])
        for y in range(oh):
            if 0 <= oy + y < screen_h:
                x0, x1 = max(0, ox), min(screen_w, ox + ow)
                screen[oy + y][x0 * 3:x1 * 3] = window[y][(x0 - ox) * 3:(x1 - ox) * 3]
    left, top = max(0, left), max(0, top)
    width, height = min(width, screen_w - left), min(height, screen_h - top)
    raw = bytearray()
    for y in range(top, top + height):
        raw.append(0)
        raw += screen[y][left * 3:(left + width) * 3]
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0,
                                                            0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b'')
    open(target, 'wb').write(png)


if __name__ == '__main__':
    main()
