#!/usr/bin/env python3
"""Draws Tarnwick's icon, a panel with a row of three signal lamps, and writes
it as a Windows .ico file with the images the resource script expects:
32x32 16 colours, 32x32 256 colours, 48x48 256 colours, 16x16 16 colours and
32x32 monochrome, in that order. Uses only the standard library and writes
the same bytes on every run.

Usage: make-icon.py OUTPUT.ico
"""
import struct
import sys

# The 16 colours every display offers; the 16-colour images use only these.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
PANEL = (128, 128, 128)
PANEL_LIGHT = (192, 192, 192)
LAMPS = [(0, 255, 0), (255, 255, 0), (255, 0, 0)]


def rounded_box(x, y, left, top, right, bottom, radius):
    """True when (x, y) lies in the rectangle with rounded corners."""
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r ** 2


def sample(x, y, mono):
    """Colour at a point of the unit square, or None where the icon is clear."""
    border = 0.06
    radius = 0.13
    if not rounded_box(x, y, 0.0, 0.2, 1.0, 0.8, 0.14):
        return None
    if not rounded_box(x, y, border, 0.2 + border, 1.0 - border, 0.8 - border, 0.1):
        return BLACK
    for index, cx in enumerate((0.22, 0.5, 0.78)):
        if in_circle(x, y, cx, 0.5, radius - border):
            return BLACK if mono else LAMPS[index]
        if in_circle(x, y, cx, 0.5, radius):
            return BLACK
    if mono:
        return WHITE
    # A lighter band along the top edge gives the panel some depth.
    return PANEL_LIGHT if y < 0.36 else PANEL


def render(size, mono, steps):
    """Rows of (colour or None), top row first, with steps x steps samples a pixel."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(steps):
                for sx in range(steps):
                    x = (px + (sx + 0.5) / steps) / size
                    y = (py + (sy + 0.5) / steps) / size
                    colour = sample(x, y, mono)
                    if colour is not None:
                        hits.append(colour)
            if len(hits) * 2 < steps * steps:
                row.append(None)
            else:
                row.append(tuple(sum(c[i] for c in hits) // len(hits) for i in range(3)))
        rows.append(row)
    return rows


def palette_256():
    colours = list(VGA)
    levels = (0, 51, 102, 153, 204, 255)
    for r in levels:
        for g in levels:
            for b in levels:
                if (r, g, b) not in colours:
                    colours.append((r, g, b))
    for grey in range(4, 256, 7):
        if len(colours) < 256 and (grey, grey, grey) not in colours:
            colours.append((grey, grey, grey))
    return colours


def nearest(colour, palette):
    best = 0
    best_distance = None
    for index, p in enumerate(palette):
        distance = sum((colour[i] - p[i]) ** 2 for i in range(3))
        if best_distance is None or distance < best_distance:
            best, best_distance = index, distance
    return best


def pack_rows(rows, bits):
    """Packs rows of palette indexes bottom-up, each padded to 4 bytes."""
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        accumulator = 0
        filled = 0
        for value in row:
            accumulator = (accumulator << bits) | value
            filled += bits
            if filled == 8:
                line.append(accumulator)
                accumulator = 0
                filled = 0
        if filled:
            line.append(accumulator << (8 - filled))
        while len(line) % 4:
            line.append(0)
        data += line
    return bytes(data)


def icon_image(size, bits):
    mono = bits == 1
    if bits == 1:
        palette = [BLACK, WHITE]
    elif bits == 4:
        palette = list(VGA)
    else:
        palette = palette_256()
    # The 16-colour and monochrome images stay crisp; the 256-colour ones
    # smooth the lamp edges inside the panel.
    pixels = render(size, mono, 4 if bits == 8 else 1)
    cache = {}
    indexes = []
    mask = []
    for row in pixels:
        index_row = []
        mask_row = []
        for colour in row:
            if colour is None:
                index_row.append(0)
                mask_row.append(1)
            else:
                if colour not in cache:
                    cache[colour] = nearest(colour, palette)
                index_row.append(cache[colour])
                mask_row.append(0)
        indexes.append(index_row)
        mask.append(mask_row)
    xor_bits = pack_rows(indexes, bits)
    and_bits = pack_rows(mask, 1)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 0, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + colours + xor_bits + and_bits


IMAGES = [(32, 4), (32, 8), (48, 8), (16, 4), (32, 1)]


def make_icon():
    images = [icon_image(size, bits) for size, bits in IMAGES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for (size, bits), image in zip(IMAGES, images):
        colour_count = (1 << bits) if bits < 8 else 0
        entries += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, bits,
                               len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make-icon.py OUTPUT.ico\n")
        return 2
    with open(sys.argv[1], "wb") as out:
        out.write(make_icon())
    return 0


if __name__ == "__main__":
    sys.exit(main())
