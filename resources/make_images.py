#!/usr/bin/env python3
"""Draws the setup's two pictures and writes them in the Windows formats the
resource compiler embeds:

  make_images.py BITMAP.bmp ICON.ico

- the product picture: 205 x 154 pixels, 16 colours (4 bits per pixel),
  a map of a grove with a route through it and a compass rose;
- the program icon: 32 x 32 pixels, 16 colours, a tree on a round map sign.

Both use the 16 standard colours, so they look the same on any display.
The output depends on nothing but this file: the same bytes on every run.
"""

import math
import struct
import sys

# The 16 standard display colours, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)


def new_canvas(width, height, colour):
    return [[colour] * width for _ in range(height)]


def put(canvas, x, y, colour):
    if 0 <= y < len(canvas) and 0 <= x < len(canvas[0]):
        canvas[y][x] = colour


def fill_rect(canvas, x0, y0, x1, y1, colour):
    for y in range(y0, y1):
        for x in range(x0, x1):
            put(canvas, x, y, colour)


def fill_circle(canvas, cx, cy, r, colour):
    for y in range(cy - r, cy + r + 1):
        for x in range(cx - r, cx + r + 1):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                put(canvas, x, y, colour)


def fill_triangle(canvas, apex_x, apex_y, base_y, half_width, colour):
    height = base_y - apex_y
    for y in range(apex_y, base_y + 1):
        w = half_width * (y - apex_y) // max(height, 1)
        for x in range(apex_x - w, apex_x + w + 1):
            put(canvas, x, y, colour)


def fill_polygon(canvas, points, colour):
    """Even-odd fill, sampled at pixel centres."""
    ys = [p[1] for p in points]
    for y in range(int(min(ys)), int(max(ys)) + 1):
        yc = y + 0.5
        crossings = []
        for i, (xa, ya) in enumerate(points):
            xb, yb = points[(i + 1) % len(points)]
            if (ya <= yc < yb) or (yb <= yc < ya):
                crossings.append(xa + (yc - ya) * (xb - xa) / (yb - ya))
        crossings.sort()
        for a, b in zip(crossings[0::2], crossings[1::2]):
            for x in range(int(math.ceil(a - 0.5)), int(math.floor(b - 0.5)) + 1):
                put(canvas, x, y, colour)


def line(canvas, x0, y0, x1, y1, colour, thickness=1):
    steps = max(abs(x1 - x0), abs(y1 - y0), 1)
    for i in range(steps + 1):
        x = x0 + (x1 - x0) * i / steps
        y = y0 + (y1 - y0) * i / steps
        for dy in range(thickness):
            for dx in range(thickness):
                put(canvas, int(round(x)) + dx, int(round(y)) + dy, colour)


def tree(canvas, x, base_y, size, leaf, shade):
    fill_rect(canvas, x - 1, base_y - size // 4, x + 2, base_y + 1, MAROON)
    fill_triangle(canvas, x, base_y - size, base_y - size // 4, size // 3 + 1, leaf)
    fill_triangle(canvas, x + 1, base_y - size + 3, base_y - size // 4, size // 6 + 1, shade)


def compass(canvas, cx, cy, r):
    fill_circle(canvas, cx, cy, r + 2, BLACK)
    fill_circle(canvas, cx, cy, r, WHITE)
    fill_polygon(canvas, [(cx, cy - r + 2), (cx + 4, cy), (cx - 4, cy)], RED)
    fill_polygon(canvas, [(cx, cy + r - 2), (cx + 4, cy), (cx - 4, cy)], NAVY)
    fill_polygon(canvas, [(cx - r + 2, cy), (cx, cy - 3), (cx, cy + 3)], GREY)
    fill_polygon(canvas, [(cx + r - 2, cy), (cx, cy - 3), (cx, cy + 3)], GREY)
    fill_circle(canvas, cx, cy, 1, BLACK)


def product_picture():
    w, h = 205, 154
    c = new_canvas(w, h, AQUA)
    # Sky in two bands, then the land.
    fill_rect(c, 0, 0, w, 22, BLUE)
    fill_rect(c, 0, 22, w, 40, AQUA)
    fill_rect(c, 0, 40, w, h, LIME)
    # Rolling hills behind the grove.
    for x in range(w):
        top = int(40 - 10 * math.sin(x / 23.0) - 5 * math.sin(x / 9.0 + 1))
        for y in range(top, 52):
            put(c, x, y, GREEN)
    # Map grid over the land.
    for x in range(0, w, 16):
        line(c, x, 52, x, h - 1, OLIVE)
    for y in range(56, h, 16):
        line(c, 0, y, w - 1, y, OLIVE)
    # A lake.
    fill_polygon(c, [(12, 112), (40, 100), (70, 108), (66, 132), (30, 140), (8, 128)], BLUE)
    fill_polygon(c, [(22, 114), (40, 108), (52, 114), (36, 122)], AQUA)
    # The route: a winding road from the bottom to the hills.
    prev = None
    for i in range(0, 61):
        t = i / 60.0
        x = int(150 - 90 * t + 22 * math.sin(t * 7.0))
        y = int(h - 2 - 100 * t)
        if prev:
            line(c, prev[0], prev[1], x, y, SILVER, 3)
        prev = (x, y)
    # Way points along the route.
    for t in (0.2, 0.55, 0.9):
        x = int(150 - 90 * t + 22 * math.sin(t * 7.0))
        y = int(h - 2 - 100 * t)
        fill_circle(c, x + 1, y + 1, 4, BLACK)
        fill_circle(c, x + 1, y + 1, 3, YELLOW)
        fill_circle(c, x + 1, y + 1, 1, RED)
    # The grove: rows of trees, smaller towards the horizon.
    for row, (base_y, size, step) in enumerate(((60, 12, 13), (78, 16, 17), (96, 20, 21))):
        for k in range(row % 2 * 6, 100, step):
            x = 92 + k
            if x < w - 4:
                tree(c, x, base_y, size, GREEN if (k // step) % 2 else TEAL, OLIVE)
    compass(c, 176, 128, 18)
    # A frame so the picture sits cleanly on the dialog.
    for x in range(w):
        put(c, x, 0, BLACK)
        put(c, x, h - 1, BLACK)
    for y in range(h):
        put(c, 0, y, BLACK)
        put(c, w - 1, y, BLACK)
    return c


def program_icon():
    c = new_canvas(32, 32, None)  # None: transparent
    fill_circle(c, 15, 15, 15, BLACK)
    fill_circle(c, 15, 15, 14, AQUA)
    fill_rect(c, 2, 18, 30, 30, LIME)
    for x in range(32):
        for y in range(32):
            if (x - 15) ** 2 + (y - 15) ** 2 > 14 * 14 and c[y][x] != BLACK:
                if (x - 15) ** 2 + (y - 15) ** 2 <= 15 * 15:
                    c[y][x] = BLACK
                else:
                    c[y][x] = None
    tree(c, 11, 23, 18, GREEN, OLIVE)
    tree(c, 20, 24, 14, TEAL, GREEN)
    fill_polygon(c, [(24, 4), (27, 11), (21, 11)], RED)
    return c


def pack_4bpp(canvas, transparent_as):
    """Rows bottom-up, two pixels per byte, each row padded to 4 bytes."""
    out = bytearray()
    for row in reversed(canvas):
        row = [transparent_as if p is None else p for p in row]
        if len(row) % 2:
            row = row + [0]
        data = bytes((row[i] << 4) | row[i + 1] for i in range(0, len(row), 2))
        out += data + b"\0" * (-len(data) % 4)
    return bytes(out)


def pack_mask(canvas):
    """The icon's AND mask: 1 bit per pixel, set where the icon is transparent."""
    out = bytearray()
    for row in reversed(canvas):
        bits = 0
        data = bytearray()
        for i, p in enumerate(row):
            bits = (bits << 1) | (1 if p is None else 0)
            if i % 8 == 7:
                data.append(bits)
                bits = 0
        out += data + b"\0" * (-len(data) % 4)
    return bytes(out)


def info_header(width, height, image_size):
    # BITMAPINFOHEADER: 4 bits per pixel, uncompressed, 16 colours used.
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 2835, 2835, 16, 16)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def bitmap_file(canvas):
    pixels = pack_4bpp(canvas, 0)
    dib = info_header(len(canvas[0]), len(canvas), len(pixels)) + palette_bytes()
    offset = 14 + len(dib)
    return struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) + dib + pixels


def icon_file(canvas):
    size = len(canvas)
    xor = pack_4bpp(canvas, BLACK)
    mask = pack_mask(canvas)
    # In an icon the header's height covers the colour image and the mask.
    dib = info_header(size, size * 2, len(xor) + len(mask)) + palette_bytes() + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(dib), 6 + 16)
    return directory + entry + dib


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_images.py BITMAP.bmp ICON.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(bitmap_file(product_picture()))
    with open(sys.argv[2], "wb") as f:
        f.write(icon_file(program_icon()))


if __name__ == "__main__":
    main()
