#!/usr/bin/env python3
"""Draws the pictures of the shipped web folder (share/html) as GIF files.

Only the standard library is used: a tiny 5x7 pixel font, filled shapes and
a GIF writer with its LZW compression. Run it from the repository root after changing a
picture; the GIF files are kept in the repository.
"""
import math
import os
import struct

FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "J": ["00111", "00010", "00010", "00010", "00010", "10010", "01100"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "10001", "11001", "10101", "10011", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "3": ["11111", "00010", "00100", "00010", "00001", "10001", "01110"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    "6": ["00110", "01000", "10000", "11110", "10001", "10001", "01110"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "8": ["01110", "10001", "10001", "01110", "10001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    " ": ["00000"] * 7,
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    "-": ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    "/": ["00001", "00010", "00010", "00100", "01000", "01000", "10000"],
    ":": ["00000", "01100", "01100", "00000", "01100", "01100", "00000"],
    "(": ["00010", "00100", "01000", "01000", "01000", "00100", "00010"],
    ")": ["01000", "00100", "00010", "00010", "00010", "00100", "01000"],
}


class Canvas:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.colors = [background]
        self.pixels = [0] * (width * height)

    def color(self, rgb):
        if rgb not in self.colors:
            self.colors.append(rgb)
        return self.colors.index(rgb)

    def set(self, x, y, rgb):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y * self.width + x] = self.color(rgb)

    def rect(self, x0, y0, x1, y1, rgb):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.set(x, y, rgb)

    def frame(self, x0, y0, x1, y1, rgb, width=1):
        self.rect(x0, y0, x1, y0 + width, rgb)
        self.rect(x0, y1 - width, x1, y1, rgb)
        self.rect(x0, y0, x0 + width, y1, rgb)
        self.rect(x1 - width, y0, x1, y1, rgb)

    def disc(self, cx, cy, r, rgb):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.set(x, y, rgb)

    def line(self, x0, y0, x1, y1, rgb, width=1):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            x = x0 + (x1 - x0) * i / steps
            y = y0 + (y1 - y0) * i / steps
            self.rect(int(round(x)), int(round(y)), int(round(x)) + width,
                      int(round(y)) + width, rgb)

    def text(self, x, y, s, rgb, scale=1):
        for ch in s.upper():
            glyph = FONT[ch]
            for row, bits in enumerate(glyph):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + col * scale, y + row * scale,
                                  x + (col + 1) * scale, y + (row + 1) * scale, rgb)
            x += 6 * scale
        return x

    @staticmethod
    def text_width(s, scale=1):
        return len(s) * 6 * scale - scale

    def centred_text(self, cx, y, s, rgb, scale=1):
        self.text(cx - self.text_width(s, scale) // 2, y, s, rgb, scale)


def lzw(indices, min_code_size=8):
    """The GIF variant of LZW: codes grow from min_code_size + 1 bits up to
    12; a full table is started afresh with a clear code."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, acc, bits = bytearray(), 0, 0

    def emit(code, width):
        nonlocal acc, bits
        acc |= code << bits
        bits += width
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8

    def fresh():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = fresh()
    emit(clear, width)
    word = ()
    for value in indices:
        longer = word + (value,)
        if longer in table:
            word = longer
            continue
        emit(table[word], width)
        if next_code < 4096:
            table[longer] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = fresh()
        word = (value,)
    if word:
        emit(table[word], width)
    emit(end, width)
    if bits:
        out.append(acc & 0xFF)
    return bytes(out)


def write_gif(path, canvas, transparent=None):
    colors = list(canvas.colors)
    size_bits = max(1, math.ceil(math.log2(max(2, len(colors)))))
    colors += [(0, 0, 0)] * ((1 << size_bits) - len(colors))
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", canvas.width, canvas.height, 0x80 | (size_bits - 1), 0, 0)
    for r, g, b in colors:
        data += bytes((r, g, b))
    if transparent is not None:
        data += bytes((0x21, 0xF9, 4, 1, 0, 0, canvas.color(transparent), 0))
    data += b"\x2c" + struct.pack("<HHHHB", 0, 0, canvas.width, canvas.height, 0)
    data.append(8)
    stream = lzw(canvas.pixels)
    for at in range(0, len(stream), 255):
        block = stream[at:at + 255]
        data.append(len(block))
        data += block
    data += b"\x00\x3b"
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


HEADER = (0x63, 0x63, 0x9C)
DARK = (0x31, 0x31, 0x5A)
WHITE = (0xFF, 0xFF, 0xFF)
GREY = (0xC0, 0xC0, 0xC0)
MID = (0x94, 0x94, 0x94)
BLACK = (0, 0, 0)
GOLD = (0xF0, 0xB0, 0x20)
ORANGE = (0xE0, 0x60, 0x20)
RED = (0xC0, 0x20, 0x20)
SKY = (0x90, 0xB8, 0xE8)
GREEN = (0x40, 0x90, 0x50)


def logo(path):
    c = Canvas(133, 25, DARK)
    c.rect(0, 0, 133, 2, HEADER)
    c.rect(0, 23, 133, 25, HEADER)
    # A loudspeaker with three sound arcs.
    c.rect(6, 9, 10, 16, GOLD)
    c.line(10, 9, 15, 4, GOLD, 2)
    c.line(10, 15, 15, 20, GOLD, 2)
    c.rect(14, 4, 16, 22, GOLD)
    for r in (4, 7, 10):
        for a in range(-50, 51, 5):
            x = 17 + r * math.cos(math.radians(a))
            y = 12.5 + r * math.sin(math.radians(a))
            c.set(int(round(x)), int(round(y)), WHITE)
    c.text(34, 6, "CORVANE", WHITE, 2)
    write_gif(path, c)


def clock(path):
    c = Canvas(16, 16, WHITE)
    c.disc(7.5, 7.5, 7.5, DARK)
    c.disc(7.5, 7.5, 6, WHITE)
    c.line(7, 7, 7, 3, BLACK)
    c.line(7, 7, 10, 8, BLACK)
    write_gif(path, c, transparent=WHITE)


def sun(path, rising):
    c = Canvas(16, 16, WHITE)
    c.disc(7.5, 10.5, 4.5, GOLD if rising else ORANGE)
    for a in range(180, 361, 30):
        x = 7.5 + 7 * math.cos(math.radians(a))
        y = 10.5 + 7 * math.sin(math.radians(a))
        c.set(int(round(x)), int(round(y)), GOLD if rising else ORANGE)
    c.rect(0, 11, 16, 16, WHITE)
    c.rect(0, 11, 16, 12, DARK)
    # An arrow up or down.
    ax = 13
    c.line(ax, 12, ax, 15, BLACK)
    if rising:
        c.set(ax - 1, 13, BLACK), c.set(ax + 1, 13, BLACK)
    else:
        c.set(ax - 1, 14, BLACK), c.set(ax + 1, 14, BLACK)
    write_gif(path, c, transparent=WHITE)


def thermometer(path):
    c = Canvas(16, 16, WHITE)
    c.rect(6, 1, 10, 12, DARK)
    c.rect(7, 2, 9, 12, WHITE)
    c.rect(7, 6, 9, 12, RED)
    c.disc(7.5, 12.5, 3, RED)
    write_gif(path, c, transparent=WHITE)


def blank(path):
    c = Canvas(1, 1, WHITE)
    write_gif(path, c, transparent=WHITE)


def box(c, x0, y0, x1, y1, label_lines, fill):
    c.rect(x0 + 3, y0 + 3, x1 + 3, y1 + 3, MID)
    c.rect(x0, y0, x1, y1, fill)
    c.frame(x0, y0, x1, y1, DARK, 2)
    cy = (y0 + y1) // 2 - (len(label_lines) * 10) // 2 + 2
    for i, line in enumerate(label_lines):
        c.centred_text((x0 + x1) // 2, cy + i * 10, line, BLACK)


def arrow(c, x0, y, x1, rgb):
    c.line(x0, y, x1, y, rgb, 2)
    for d in range(1, 5):
        c.rect(x1 - d, y - d, x1 - d + 2, y + d + 2, rgb)
        c.rect(x0 + d, y - d, x0 + d + 2, y + d + 2, rgb)


def overview(path):
    c = Canvas(560, 200, WHITE)
    box(c, 10, 70, 130, 130, ["VAUX ARIS 700", "6 ZONES", "8 INPUTS"], GREY)
    box(c, 220, 50, 340, 150, ["CORVANE", "", "ZONE TABLE", "WEB PAGES", "SCRIPTS"], SKY)
    box(c, 430, 20, 550, 80, ["XAP NETWORK", "(XAP HUB)"], GREY)
    box(c, 430, 120, 550, 180, ["WEB BROWSER"], GREY)
    arrow(c, 134, 100, 216, DARK)
    c.centred_text(175, 86, "SERIAL", BLACK)
    c.centred_text(175, 108, "OR TCP", BLACK)
    arrow(c, 344, 80, 426, GREEN)
    c.centred_text(385, 66, "UDP 3639", BLACK)
    arrow(c, 344, 130, 426, ORANGE)
    c.centred_text(385, 116, "HTTP 8018", BLACK)
    c.centred_text(280, 175, "SCRIPTS/CORVANE.TXT", DARK)
    write_gif(path, c)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "share", "html")
    img = os.path.join(root, "img")
    logo(os.path.join(img, "logo.gif"))
    clock(os.path.join(img, "clock.gif"))
    sun(os.path.join(img, "sunrise.gif"), True)
    sun(os.path.join(img, "sunset.gif"), False)
    thermometer(os.path.join(img, "temp.gif"))
    blank(os.path.join(img, "blank.gif"))
    files = os.path.join(root, "Help", "Corvane", "Corvane_files")
    logo(os.path.join(files, "logo.gif"))
    overview(os.path.join(files, "overview.gif"))


if __name__ == "__main__":
    main()
