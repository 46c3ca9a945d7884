#!/usr/bin/env python3
"""Draws Didira's bitmaps and icon and writes them into res/.

bitmap131.bmp: 144x16, nine 16x16 images, 16 colours, white is the mask colour:
  0 Japan, 1 United States, 2 United Kingdom, 3-6 mid-grey tiles (each in a
  black frame), 7-8 all white.
bitmap132.bmp: 270x30, eighteen 15x30 images (the large-icon strip).
icon128.png: 32x32 application icon (a radio with an antenna), and 16x16.
icons/didira-N.png: the same icon drawn at 48, 128 and 256 pixels for the
  desktop's icon theme (16 and 32 are the two above).
Run from the repository root: python3 res/tools/make_images.py
"""
import math
import struct
import zlib

# The 16-colour palette (index -> RGB).
PAL = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, RED, NAVY, GREY, WHITE, SILVER, BLUE = 0, 9, 4, 8, 15, 7, 12


def canvas(w, h, fill=WHITE):
    return [[fill] * w for _ in range(h)]


def frame(img, x0, y0, w, h):
    for x in range(x0, x0 + w):
        img[y0][x] = BLACK
        img[y0 + h - 1][x] = BLACK
    for y in range(y0, y0 + h):
        img[y][x0] = BLACK
        img[y][x0 + w - 1] = BLACK


def japan(img, x0, y0, w, h):
    cx, cy = x0 + (w - 1) / 2, y0 + (h - 1) / 2
    r = min(w, h) * 0.3
    for y in range(y0 + 1, y0 + h - 1):
        for x in range(x0 + 1, x0 + w - 1):
            img[y][x] = RED if (x - cx) ** 2 + (y - cy) ** 2 <= r * r else WHITE
    frame(img, x0, y0, w, h)


def usa(img, x0, y0, w, h):
    inner_h = h - 2
    for y in range(y0 + 1, y0 + h - 1):
        stripe = ((y - y0 - 1) * 13) // inner_h
        for x in range(x0 + 1, x0 + w - 1):
            img[y][x] = RED if stripe % 2 == 0 else WHITE
    cw, ch = (w - 2) * 2 // 5 + 1, (h - 2) * 7 // 13
    for y in range(y0 + 1, y0 + 1 + ch):
        for x in range(x0 + 1, x0 + 1 + cw):
            star = (x - x0) % 2 == 0 and (y - y0) % 2 == 0
            img[y][x] = SILVER if star else NAVY
    frame(img, x0, y0, w, h)


def uk(img, x0, y0, w, h):
    iw, ih = w - 2, h - 2
    for y in range(ih):
        for x in range(iw):
            u, v = (x + 0.5) / iw, (y + 0.5) / ih
            d1, d2 = abs(u - v), abs(u - (1 - v))
            c = NAVY
            if min(d1, d2) < 0.09:
                c = WHITE
            if min(d1, d2) < 0.035:
                c = RED
            if abs(u - 0.5) < 0.15 or abs(v - 0.5) < 0.15:
                c = WHITE
            if abs(u - 0.5) < 0.075 or abs(v - 0.5) < 0.075:
                c = RED
            img[y0 + 1 + y][x0 + 1 + x] = c
    frame(img, x0, y0, w, h)


def tile(img, x0, y0, w, h):
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            img[y][x] = GREY
    frame(img, x0, y0, w, h)


def write_bmp4(path, img):
    h, w = len(img), len(img[0])
    row = ((w + 1) // 2 + 3) // 4 * 4
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray(row)
        for x in range(w):
            if x % 2 == 0:
                line[x // 2] |= img[y][x] << 4
            else:
                line[x // 2] |= img[y][x]
        pixels += line
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PAL)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


def write_png(path, rgba, w, h):
    raw = b"".join(b"\x00" + bytes(rgba[y * w * 4:(y + 1) * w * 4]) for y in range(h))

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def radio_icon(size):
    """A dark-red radio with a speaker grille, a dial and an antenna."""
    s = size / 32.0
    px = [0] * (size * size * 4)

    def put(x, y, rgb, a=255):
        if 0 <= x < size and 0 <= y < size:
            i = (y * size + x) * 4
            px[i:i + 4] = [rgb[0], rgb[1], rgb[2], a]

    for y in range(size):
        for x in range(size):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            # antenna
            if 4 <= fy <= 12 and abs((fx - 8) - (12 - fy) * 1.6) < 0.9:
                put(x, y, (40, 40, 40))
            # body with rounded corners
            if 2 <= fx <= 30 and 11 <= fy <= 29:
                corner = min(fx - 2, 30 - fx, fy - 11, 29 - fy)
                if corner >= 0:
                    rgb = (150, 20, 30) if corner > 1.2 else (70, 10, 15)
                    put(x, y, rgb)
            # speaker grille
            if (fx - 10) ** 2 + (fy - 20) ** 2 <= 36:
                ring = int(math.hypot(fx - 10, fy - 20)) % 2
                put(x, y, (230, 230, 230) if ring else (60, 60, 60))
            # dial window
            if 18 <= fx <= 27 and 15 <= fy <= 20:
                put(x, y, (250, 235, 170))
                if abs(fx - 23) < 0.6:
                    put(x, y, (200, 0, 0))
            # knobs
            for kx in (20, 25.5):
                if (fx - kx) ** 2 + (fy - 24.5) ** 2 <= 4:
                    put(x, y, (235, 235, 235))
    return px


def main():
    small = canvas(144, 16)
    japan(small, 0, 0, 16, 16)
    usa(small, 16, 0, 16, 16)
    uk(small, 32, 0, 16, 16)
    for i in range(3, 7):
        tile(small, 16 * i, 0, 16, 16)
    write_bmp4("res/bitmap131.bmp", small)

    large = canvas(270, 30)
    drawers = [japan, usa, uk, tile, tile, tile, tile]
    for i in range(18):
        if i < 7:
            drawers[i](large, 15 * i, 7, 15, 16)
        elif i < 14:
            drawers[i - 7](large, 15 * i, 0, 15, 30)
    write_bmp4("res/bitmap132.bmp", large)

    write_png("res/icon128.png", radio_icon(32), 32, 32)
    write_png("res/icon128_16.png", radio_icon(16), 16, 16)
    for size in (48, 128, 256):
        write_png(f"res/icons/didira-{size}.png", radio_icon(size), size, size)


if __name__ == "__main__":
    main()
