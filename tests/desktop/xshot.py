#!/usr/bin/env python3
"""Reads an XWD screenshot (as `xwd` writes it, 24 or 32 bits a pixel,
TrueColor) and answers questions about it for the end-to-end tests:

  xshot.py stats SHOT.xwd [X Y W H]
      prints the share of pixels that are not black in the region
  xshot.py match SHOT.xwd PICTURE.ppm X Y W H
      prints the share of the region's pixels within 48 per channel of the
      picture scaled to the region (nearest pixel)
  xshot.py png SHOT.xwd OUT.png
      writes the screenshot as a PNG, for people to look at
"""
import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, 'rb').read()
    header_size, = struct.unpack('>I', data[0:4])
    fields = struct.unpack('>25I', data[0:100])
    (header_size, version, pixmap_format, depth, width, height, xoffset, byte_order, bitmap_unit,
     bitmap_bit_order, bitmap_pad, bits_per_pixel, bytes_per_line, visual_class, red_mask, green_mask,
     blue_mask, bits_per_rgb, colormap_entries, ncolors, window_width, window_height, window_x,
     window_y, window_bdrwidth) = fields
    if bits_per_pixel not in (24, 32):
        raise SystemExit('xshot: %d bits a pixel is not handled' % bits_per_pixel)
    start = header_size + ncolors * 12
    step = bits_per_pixel // 8
    little = byte_order == 0

    def shift(mask):
        s = 0
        while mask and not mask & 1:
            mask >>= 1
            s += 1
        return s
    shifts = (shift(red_mask), shift(green_mask), shift(blue_mask))
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line: start + y * bytes_per_line + width * step]
        row = []
        for x in range(width):
            b = line[x * step: x * step + step]
            v = int.from_bytes(b, 'little' if little else 'big')
            row.append(((v >> shifts[0]) & 255, (v >> shifts[1]) & 255, (v >> shifts[2]) & 255))
        rows.append(row)
    return width, height, rows


def read_ppm(path):
    data = open(path, 'rb').read()
    parts = data.split(maxsplit=4)
    if parts[0] != b'P6':
        raise SystemExit('xshot: not a P6 picture')
    w, h = int(parts[1]), int(parts[2])
    pixels = parts[4][:w * h * 3]
    return w, h, pixels


def region(args, width, height):
    if len(args) >= 4:
        x, y, w, h = (int(a) for a in args[:4])
    else:
        x, y, w, h = 0, 0, width, height
    return x, y, w, h


def main():
    command, shot = sys.argv[1], sys.argv[2]
    width, height, rows = read_xwd(shot)
    if command == 'stats':
        x0, y0, w, h = region(sys.argv[3:], width, height)
        lit = sum(1 for y in range(y0, y0 + h) for x in range(x0, x0 + w) if max(rows[y][x]) > 24)
        print('%.3f' % (lit / float(w * h)))
    elif command == 'match':
        pw, ph, pixels = read_ppm(sys.argv[3])
        x0, y0, w, h = region(sys.argv[4:], width, height)
        close = 0
        for y in range(y0, y0 + h):
            py = (y - y0) * ph // h
            for x in range(x0, x0 + w):
                px = (x - x0) * pw // w
                i = (py * pw + px) * 3
                want = pixels[i:i + 3]
                got = rows[y][x]
                if all(abs(got[c] - want[c]) <= 48 for c in range(3)):
                    close += 1
        print('%.3f' % (close / float(w * h)))
    elif command == 'png':
        raw = b''.join(b'\0' + bytes(c for p in row for c in p) for row in rows)
        def chunk(kind, body):
            return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
        png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
        png += chunk(b'IDAT', zlib.compress(raw, 6)) + chunk(b'IEND', b'')
        open(sys.argv[3], 'wb').write(png)
    else:
        raise SystemExit(__doc__)


if __name__ == '__main__':
    main()
