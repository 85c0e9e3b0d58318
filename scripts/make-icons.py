#!/usr/bin/env python3
"""Writes the desktop program's pictures into ui/images: logo.gif (123 x 48, the product logo),
cursor.png (32 x 32, the pointer over the logo), treelan.png (16 x 16, the window icon),
treelan-64.png (64 x 64), and the desktop's icon theme set: treelan-SIZE.png for each size of
ICON_SIZES and treelan.svg, the same tree drawn as a scalable picture.

Plain Python 3: the GIF reuses the LZW writer of make-images.py; the PNGs are written with zlib.

Usage: make-icons.py [OUTPUT_DIR]   (default: ui/images of this checkout)
"""

import os
import runpy
import struct
import sys
import types
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def load_gif_writer():
    # make-images.py has a dash in its name, so it is run as a file rather than imported.
    return types.SimpleNamespace(**runpy.run_path(os.path.join(HERE, "make-images.py")))


# 16 colours, as the logo's format allows.
PALETTE = [
    (0xFF, 0xFF, 0xFF),  # 0 background
    (0x1F, 0x3A, 0x5F),  # 1 text, dark blue
    (0x3C, 0x8D, 0x2F),  # 2 leaf green
    (0x7A, 0x8A, 0x99),  # 3 grey lines
    (0xF2, 0xC1, 0x4E),  # 4 folder yellow
    (0xC8, 0x93, 0x1E),  # 5 folder edge
    (0xE8, 0xEE, 0xF4),  # 6 pale band
] + [(0, 0, 0)] * 9

# A 5 x 7 pixel face for the letters of the name.
FONT = {
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "n": [".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"],
}


def canvas(width, height, value):
    return [[value] * width for _ in range(height)]


def fill(rows, x0, y0, x1, y1, value):
    for y in range(max(0, y0), min(len(rows), y1)):
        for x in range(max(0, x0), min(len(rows[0]), x1)):
            rows[y][x] = value


def folder(paint, x, y, w, h):
    """A folder: a tab on top of a box, edged. paint(x0, y0, x1, y1, colour) draws a rectangle."""
    paint(x, y, x + w // 2, y + 2, 5)
    paint(x, y + 2, x + w, y + h, 5)
    paint(x + 1, y + 3, x + w - 1, y + h - 1, 4)


def tree_glyph(paint, x, y, unit):
    """Three folders joined by the lines of a tree, `unit` pixels to a step."""
    u = unit
    folder(paint, x, y, 4 * u, 3 * u)
    paint(x + u, y + 3 * u, x + u + max(1, u // 2), y + 9 * u, 3)  # trunk
    for row_y in (y + 5 * u, y + 9 * u - max(1, u // 2)):
        paint(x + u, row_y, x + 3 * u, row_y + max(1, u // 2), 3)
    folder(paint, x + 3 * u, y + 4 * u, 4 * u, 3 * u)
    folder(paint, x + 3 * u, y + 8 * u - 1, 4 * u, 3 * u)


def painter(rows):
    return lambda x0, y0, x1, y1, value: fill(rows, x0, y0, x1, y1, value)


def logo():
    rows = canvas(123, 48, 0)
    fill(rows, 0, 40, 123, 48, 6)
    tree_glyph(painter(rows), 6, 4, 3)
    x = 36
    for ch in "Treelan":
        glyph = FONT[ch]
        for gy, line in enumerate(glyph):
            for gx, bit in enumerate(line):
                if bit == "#":
                    fill(rows, x + 2 * gx, 12 + 2 * gy, x + 2 * gx + 2, 12 + 2 * gy + 2, 1)
        x += 12
    # A leaf over the last folder: the "tree" of the name.
    fill(rows, 27, 26, 30, 29, 2)
    return rows


def gif16(writer, rows):
    height, width = len(rows), len(rows[0])
    colour_bits = 4
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0x80 | ((colour_bits - 1) << 4) | (colour_bits - 1), 0, 0)
    for r, g, b in PALETTE:
        out += bytes((r, g, b))
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    out.append(colour_bits)
    out += writer.sub_blocks(writer.lzw_encode([i for row in rows for i in row], colour_bits))
    out += b"\x3b"
    return bytes(out)


def png(pixels):
    """pixels: rows of (r, g, b, a)."""
    height, width = len(pixels), len(pixels[0])

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def to_rgba(rows, transparent):
    return [[(0, 0, 0, 0) if i == transparent else PALETTE[i] + (255,) for i in row] for row in rows]


# A pointing hand; its fingertip, the hot spot, is at (10, 1).
HAND = [
    "........##......",
    ".......#..#.....",
    ".......#..#.....",
    ".......#..#.....",
    ".......#..###...",
    ".......#..#..##.",
    "....##.#..#..#.#",
    "...#..##..#..#.#",
    "...#...#.......#",
    "....#..........#",
    ".....#.........#",
    ".....#........#.",
    "......#.......#.",
    "......#......#..",
    ".......#.....#..",
    ".......#######..",
]


def cursor():
    pixels = [[(0, 0, 0, 0)] * 32 for _ in range(32)]
    # Drawn at 1:1 from column 2, so the fingertip lands on (10, 1).
    inside = set()
    for y, line in enumerate(HAND):
        edges = [x for x, c in enumerate(line) if c == "#"]
        if len(edges) >= 2:
            for x in range(edges[0] + 1, edges[-1]):
                if line[x] != "#":
                    inside.add((x, y))
    for y, line in enumerate(HAND):
        for x, c in enumerate(line):
            px, py = x + 2, y + 1
            if c == "#":
                pixels[py][px] = (0, 0, 0, 255)
            elif (x, y) in inside and y > 0:
                pixels[py][px] = (255, 255, 255, 255)
    return pixels


def icon(size):
    rows = canvas(size, size, 15)  # 15: transparent
    unit = max(1, size // 12)
    tree_glyph(painter(rows), (size - 7 * unit) // 2, (size - 11 * unit) // 2, unit)
    return to_rgba(rows, 15)


# The hicolor theme's usual sizes.
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def icon_svg():
    """The icon's tree as SVG rectangles on a 48-unit canvas, drawn by the same routine."""
    size, shapes = 48, []
    unit = size // 12
    tree_glyph(lambda x0, y0, x1, y1, value: shapes.append((x0, y0, x1 - x0, y1 - y0, value)),
               (size - 7 * unit) // 2, (size - 11 * unit) // 2, unit)
    lines = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
             % (size, size, size, size)]
    for x, y, w, h, value in shapes:
        lines.append('  <rect x="%d" y="%d" width="%d" height="%d" fill="#%02x%02x%02x"/>'
                     % ((x, y, w, h) + PALETTE[value]))
    lines.append("</svg>")
    return ("\n".join(lines) + "\n").encode("ascii")


def main(argv):
    target = argv[1] if len(argv) > 1 else os.path.join(HERE, os.pardir, "ui", "images")
    os.makedirs(target, exist_ok=True)
    writer = load_gif_writer()
    outputs = {
        "logo.gif": gif16(writer, logo()),
        "cursor.png": png(cursor()),
        "treelan.png": png(icon(16)),
        "treelan-64.png": png(icon(64)),
        "treelan.svg": icon_svg(),
    }
    for size in ICON_SIZES:
        outputs["treelan-%d.png" % size] = png(icon(size))
    for name, data in outputs.items():
        with open(os.path.join(target, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
