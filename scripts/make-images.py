#!/usr/bin/env python3
"""Writes Resource/open.gif and Resource/close.gif, the folder markers of the web archive page.

open.gif is a box with a minus (an open folder, a click closes it), close.gif the same box with a
plus. Plain Python 3: the GIF89a bytes and the LZW code stream are written here, so the images can
be rebuilt anywhere without an imaging library.

Usage: make-images.py [OUTPUT_DIR]   (default: the Resource folder of this checkout)
"""

import os
import struct
import sys

SIZE = 11

# Index 3 is transparent: the rounded corners let the page colour through.
PALETTE = [
    (0xFF, 0xFF, 0xFF),  # 0 box fill
    (0x7A, 0x8A, 0x99),  # 1 box border
    (0x1F, 0x3A, 0x5F),  # 2 sign
    (0xFF, 0xFF, 0xFF),  # 3 transparent
]
TRANSPARENT = 3


def box(plus):
    """The marker as rows of palette indices."""
    last = SIZE - 1
    mid = SIZE // 2
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            corner = x in (0, last) and y in (0, last)
            if corner:
                row.append(TRANSPARENT)
            elif x in (0, last) or y in (0, last):
                row.append(1)
            elif y == mid and 3 <= x <= last - 3:
                row.append(2)
            elif plus and x == mid and 3 <= y <= last - 3:
                row.append(2)
            else:
                row.append(0)
        rows.append(row)
    return rows


def lzw_encode(indices, min_code_size):
    """GIF flavour of LZW: variable code width from min_code_size + 1 up to 12 bits, codes packed
    least significant bit first."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def fresh_table():
        return {bytes([i]): i for i in range(clear)}

    table = fresh_table()
    next_code = end + 1
    width = min_code_size + 1
    emit(clear, width)

    prefix = b""
    for value in indices:
        candidate = prefix + bytes([value])
        if not prefix or candidate in table:
            prefix = candidate
            continue
        emit(table[prefix], width)
        # The decoder adds its entry one code later, so it widens when the table it holds is
        # full before reading the next code; widen in step with it.
        if next_code == (1 << width) and width < 12:
            width += 1
        table[candidate] = next_code
        next_code += 1
        if next_code == 4096:
            emit(clear, width)
            table = fresh_table()
            next_code = end + 1
            width = min_code_size + 1
        prefix = bytes([value])

    if prefix:
        emit(table[prefix], width)
        if next_code == (1 << width) and width < 12:
            width += 1
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    blocks = bytearray()
    for start in range(0, len(data), 255):
        chunk = data[start : start + 255]
        blocks.append(len(chunk))
        blocks += chunk
    blocks.append(0)
    return bytes(blocks)


def gif(rows):
    height = len(rows)
    width = len(rows[0])
    colour_bits = 2  # four palette entries
    gif_bytes = bytearray(b"GIF89a")
    # Global colour table present, colour resolution and table size both 2 bits.
    packed = 0x80 | ((colour_bits - 1) << 4) | (colour_bits - 1)
    gif_bytes += struct.pack("<HHBBB", width, height, packed, 0, 0)
    for r, g, b in PALETTE:
        gif_bytes += bytes((r, g, b))
    # Graphic control extension: no disposal, transparent colour index.
    gif_bytes += bytes((0x21, 0xF9, 4, 0x01, 0, 0, TRANSPARENT, 0))
    gif_bytes += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    min_code_size = max(2, colour_bits)
    gif_bytes.append(min_code_size)
    pixels = [index for row in rows for index in row]
    gif_bytes += sub_blocks(lzw_encode(pixels, min_code_size))
    gif_bytes += b"\x3b"
    return bytes(gif_bytes)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    target = argv[1] if len(argv) > 1 else os.path.join(here, os.pardir, "Resource")
    os.makedirs(target, exist_ok=True)
    for name, plus in (("open.gif", False), ("close.gif", True)):
        path = os.path.join(target, name)
        with open(path, "wb") as f:
            f.write(gif(box(plus)))
        print("wrote", os.path.normpath(path))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
