#!/usr/bin/env python3
"""Draws the status program's pictures: the banner bitmap (400 x 300,
1 bit per pixel) and the program icon (32 x 32 and 16 x 16, 16 colours).

Writes banner.bmp and quorvstat.ico next to this script. Standard library
only, so the pictures can be redrawn on any machine:

    python3 status/art/draw_pictures.py
"""
import os
import math
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# ---- banner ---------------------------------------------------------------
# Pixel value 0 is painted in the active-caption colour, 1 stays white.
BANNER_WIDTH, BANNER_HEIGHT = 400, 300
INK, PAPER = 0, 1


class Canvas:
    def __init__(self, width, height, fill):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def set(self, x, y, value):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = value

    def fill_rect(self, left, top, right, bottom, value):
        for y in range(top, bottom):
            for x in range(left, right):
                self.set(x, y, value)

    def frame_rect(self, left, top, right, bottom, value, thickness=1):
        self.fill_rect(left, top, right, top + thickness, value)
        self.fill_rect(left, bottom - thickness, right, bottom, value)
        self.fill_rect(left, top, left + thickness, bottom, value)
        self.fill_rect(right - thickness, top, right, bottom, value)

    def line(self, x0, y0, x1, y1, value, thickness=1, dash=0):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        half = thickness // 2
        for i in range(steps + 1):
            if dash and (i // dash) % 2:
                continue
            x = x0 + (x1 - x0) * i // steps
            y = y0 + (y1 - y0) * i // steps
            self.fill_rect(x - half, y - half, x - half + thickness, y - half + thickness, value)

    def halftone(self, left, top, right, bottom, value, spacing):
        for y in range(top, bottom):
            for x in range(left, right):
                if (x + y) % spacing == 0:
                    self.set(x, y, value)

    def arc(self, cx, cy, radius_x, radius_y, value, thickness=1, dash=0):
        """Upper half of an ellipse."""
        points = 4 * max(radius_x, radius_y)
        half = thickness // 2
        for i in range(points + 1):
            if dash and (i // dash) % 2:
                continue
            angle = math.pi * i / points
            x = int(round(cx + radius_x * math.cos(angle)))
            y = int(round(cy - radius_y * math.sin(angle)))
            self.fill_rect(x - half, y - half, x - half + thickness, y - half + thickness, value)


def draw_computer(canvas, left, top):
    """A desktop computer: monitor with a hatched screen, stand and base."""
    canvas.frame_rect(left, top, left + 70, top + 50, INK, 3)
    canvas.halftone(left + 7, top + 7, left + 63, top + 43, INK, 3)
    canvas.fill_rect(left + 30, top + 50, left + 40, top + 58, INK)
    canvas.fill_rect(left + 10, top + 58, left + 60, top + 64, INK)


def draw_banner():
    canvas = Canvas(BANNER_WIDTH, BANNER_HEIGHT, PAPER)
    canvas.frame_rect(0, 0, BANNER_WIDTH, BANNER_HEIGHT, INK, 6)
    canvas.frame_rect(10, 10, BANNER_WIDTH - 10, BANNER_HEIGHT - 10, INK, 1)

    # The title band stays white; thin rules below it.
    canvas.fill_rect(40, 150, 360, 152, INK)
    canvas.fill_rect(70, 156, 330, 157, INK)

    # Three nodes on one network cable, with the conversations between them.
    nodes = [(35, 178), (165, 178), (295, 178)]
    for left, top in nodes:
        draw_computer(canvas, left, top)
        canvas.fill_rect(left + 34, top + 64, left + 36, 272, INK)
    canvas.fill_rect(40, 272, 360, 276, INK)
    for (a, _), (b, _) in zip(nodes, nodes[1:]):
        centre = (a + b) // 2 + 35
        canvas.arc(centre, 172, (b - a) // 2 - 10, 12, INK, 2, dash=3)
    return canvas


def write_banner(path):
    canvas = draw_banner()
    row_bytes = (BANNER_WIDTH + 31) // 32 * 4
    rows = []
    for y in reversed(range(BANNER_HEIGHT)):  # bottom-up
        row = bytearray(row_bytes)
        for x in range(BANNER_WIDTH):
            if canvas.pixels[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    bits = b"".join(rows)
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    info = struct.pack("<IiiHHIIiiII", 40, BANNER_WIDTH, BANNER_HEIGHT, 1, 1, 0, len(bits), 2835, 2835, 2, 2)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    with open(path, "wb") as out:
        out.write(header + info + palette + bits)


# ---- icon ---------------------------------------------------------------------
# The standard 16-colour palette, by index.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
CLEAR = None  # transparent
BLACK, NAVY, TEAL, SILVER, GREY, RED, YELLOW, WHITE = 0, 4, 6, 7, 8, 9, 11, 15

# Two monitors joined by a cable with a spark: a conversation between nodes.
ICON_32 = [
    "................................",
    "kkkkkkkkkkkkkkk.................",
    "kwwwwwwwwwwwwsk.................",
    "kwnnnnnnnnnnnsk.................",
    "kwnttnnnnnnnnsk.................",
    "kwnnnnnnnnnnnsk.................",
    "kwnnttttnnnnnsk.................",
    "kwnnnnnnnnnnnsk.................",
    "kwnnnnnnnnnnnsk.................",
    "kwsssssssssssgk.................",
    "kkkkkkkkkkkkkkk.................",
    "......kgggk.....................",
    "....kkkkkkkkk...................",
    "....kssssssgk...................",
    "....kkkkkkkkk...................",
    "........k.......................",
    "........k.......................",
    "........kkkkkkyy..kkkkkk........",
    "..............yyyy.....k........",
    "...............yy......k........",
    ".................kkkkkkkkkkkkkkk",
    ".................kwwwwwwwwwwwwsk",
    ".................kwnnnnnnnnnnnsk",
    ".................kwnttnnnnnnnnsk",
    ".................kwnnnnnnnnnnnsk",
    ".................kwnnttttnnnnnsk",
    ".................kwnnnnnnnnnnnsk",
    ".................kwsssssssssssgk",
    ".................kkkkkkkkkkkkkkk",
    ".......................kgggk....",
    ".....................kkkkkkkkk..",
    ".....................kssssssgk..",
]
ICON_16 = [
    "kkkkkkkk........",
    "kwwwwwsk........",
    "kwnnnnsk........",
    "kwnttnsk........",
    "kwnnnnsk........",
    "kkkkkkkk........",
    "..kgggk.........",
    "....k...........",
    "....kkkyy.kkk...",
    "........yy..k...",
    "........kkkkkkkk",
    "........kwwwwwsk",
    "........kwnnnnsk",
    "........kwnttnsk",
    "........kwnnnnsk",
    "........kkkkkkkk",
]
CODES = {".": CLEAR, "k": BLACK, "n": NAVY, "t": TEAL, "s": SILVER, "g": GREY,
         "r": RED, "y": YELLOW, "w": WHITE}


def icon_image(rows):
    size = len(rows)
    assert all(len(row) == size for row in rows)
    colour_row_bytes = (size * 4 + 31) // 32 * 4
    mask_row_bytes = (size + 31) // 32 * 4
    colours, masks = [], []
    for row in reversed(rows):  # bottom-up
        colour = bytearray(colour_row_bytes)
        mask = bytearray(mask_row_bytes)
        for x, code in enumerate(row):
            index = CODES[code]
            if index is None:
                mask[x // 8] |= 0x80 >> (x % 8)
                index = 0
            colour[x // 2] |= index << (4 if x % 2 == 0 else 0)
        colours.append(bytes(colour))
        masks.append(bytes(mask))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    bits = b"".join(colours) + b"".join(masks)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(bits), 0, 0, 16, 0)
    return size, info + palette + bits


def write_icon(path):
    images = [icon_image(ICON_32), icon_image(ICON_16)]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset + len(data))
        data += image
    with open(path, "wb") as out:
        out.write(directory + entries + data)


if __name__ == "__main__":
    write_banner(os.path.join(HERE, "banner.bmp"))
    write_icon(os.path.join(HERE, "quorvstat.ico"))
