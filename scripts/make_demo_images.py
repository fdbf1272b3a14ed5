#!/usr/bin/env python3
"""Makes the images of the bundled demo: examples/font.png, a bitmap font of
the characters from space to Z, and examples/sprite.png, a 64 x 64 ball with
soft, translucent edges and a hand. Python's standard library only.

    scripts/make_demo_images.py [output directory, default examples/]

Bitmap font image layout: glyphs side by side from code 32 upwards, their
coverage in the blue channel; column 0 marks the ascent rows; the last row
holds a marker where each glyph ends (the marker column starts the next).
"""
import math
import os
import struct
import sys
import zlib

# 5 x 7 glyphs, codes 32 ('') to 90 ('Z'), rows top to bottom.
GLYPHS = """
..... ..... ..... ..... ..... ..... .....
..#.. ..#.. ..#.. ..#.. ..#.. ..... ..#..
.#.#. .#.#. ..... ..... ..... ..... .....
.#.#. ##### .#.#. .#.#. .#.#. ##### .#.#.
..#.. .#### #.#.. .###. ..#.# ####. ..#..
##... ##..# ...#. ..#.. .#... #..## ...##
.##.. #..#. #.#.. .#... #.#.# #..#. .##.#
..#.. ..#.. ..... ..... ..... ..... .....
...#. ..#.. .#... .#... .#... ..#.. ...#.
.#... ..#.. ...#. ...#. ...#. ..#.. .#...
..... ..#.. #.#.# .###. #.#.# ..#.. .....
..... ..#.. ..#.. ##### ..#.. ..#.. .....
..... ..... ..... ..... .##.. ..#.. .#...
..... ..... ..... ##### ..... ..... .....
..... ..... ..... ..... ..... .##.. .##..
..... ....# ...#. ..#.. .#... #.... .....
.###. #...# #..## #.#.# ##..# #...# .###.
..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.
.###. #...# ....# ...#. ..#.. .#... #####
##### ...#. ..#.. ...#. ....# #...# .###.
...#. ..##. .#.#. #..#. ##### ...#. ...#.
##### #.... ####. ....# ....# #...# .###.
..##. .#... #.... ####. #...# #...# .###.
##### ....# ...#. ..#.. .#... .#... .#...
.###. #...# #...# .###. #...# #...# .###.
.###. #...# #...# .#### ....# ...#. .##..
..... .##.. .##.. ..... .##.. .##.. .....
..... .##.. .##.. ..... .##.. ..#.. .#...
...#. ..#.. .#... #.... .#... ..#.. ...#.
..... ..... ##### ..... ##### ..... .....
.#... ..#.. ...#. ....# ...#. ..#.. .#...
.###. #...# ....# ...#. ..#.. ..... ..#..
.###. #...# ....# .##.# #.#.# #.#.# .###.
.###. #...# #...# ##### #...# #...# #...#
####. #...# #...# ####. #...# #...# ####.
.###. #...# #.... #.... #.... #...# .###.
###.. #..#. #...# #...# #...# #..#. ###..
##### #.... #.... ####. #.... #.... #####
##### #.... #.... ####. #.... #.... #....
.###. #...# #.... #.### #...# #...# .####
#...# #...# #...# ##### #...# #...# #...#
.###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.
..### ...#. ...#. ...#. ...#. #..#. .##..
#...# #..#. #.#.. ##... #.#.. #..#. #...#
#.... #.... #.... #.... #.... #.... #####
#...# ##.## #.#.# #.#.# #...# #...# #...#
#...# #...# ##..# #.#.# #..## #...# #...#
.###. #...# #...# #...# #...# #...# .###.
####. #...# #...# ####. #.... #.... #....
.###. #...# #...# #...# #.#.# #..#. .##.#
####. #...# #...# ####. #.#.. #..#. #...#
.#### #.... #.... .###. ....# ....# ####.
##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..
#...# #...# #...# #...# #...# #...# .###.
#...# #...# #...# #...# #...# .#.#. ..#..
#...# #...# #...# #.#.# #.#.# #.#.# .#.#.
#...# #...# .#.#. ..#.. .#.#. #...# #...#
#...# #...# .#.#. ..#.. ..#.. ..#.. ..#..
##### ....# ...#. ..#.. .#... #.... #####
"""

SCALE = 3           # each glyph pixel becomes SCALE x SCALE image pixels
ADVANCE = 18        # 1 + 15 + 2: bearing, glyph, gap
TOP = 1             # empty rows above the glyphs
ROWS = 24           # glyph rows: 1 + 21 + 2
ASCENT = TOP + 7 * SCALE


def png(path, width, height, pixel):
    """Writes an 8-bit RGBA PNG; pixel(x, y) gives (r, g, b, a)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)  # no filter
        for x in range(width):
            raw.extend(pixel(x, y))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        out.write(chunk(b"IEND", b""))


def glyph_rows():
    lines = [line.split() for line in GLYPHS.strip().splitlines()]
    glyphs = [row for line in lines for row in line]
    assert len(glyphs) % 7 == 0
    return [glyphs[i:i + 7] for i in range(0, len(glyphs), 7)]


def font(path):
    glyphs = glyph_rows()
    assert len(glyphs) == ord("Z") - ord(" ") + 1
    width = 1 + ADVANCE * len(glyphs) + 1
    height = ROWS + 1
    markers = {1 + ADVANCE * (k + 1) for k in range(len(glyphs))}

    def coverage(x, y):
        if y == ROWS:
            return 255 if x in markers else 0
        if x == 0:
            return 255 if y < ASCENT else 0
        k, column = divmod(x - 1, ADVANCE)
        gx, gy = (column - 1) // SCALE, (y - TOP) // SCALE
        if k >= len(glyphs) or column < 1 or not (0 <= gx < 5 and 0 <= gy < 7):
            return 0
        return 255 if glyphs[k][gy][gx] == "#" else 0

    png(path, width, height, lambda x, y: (coverage(x, y),) * 3 + (255,))


def sprite(path, size=64):
    centre, radius = (size - 1) / 2, size / 2 - 1

    def pixel(x, y):
        d = math.hypot(x - centre, y - centre)
        alpha = max(0.0, min(1.0, radius - d + 0.5))  # one pixel of soft edge
        light = max(0.0, 1 - math.hypot(x - size * 0.35, y - size * 0.3) / (size * 0.75))
        r = int(40 + 215 * light)
        g = int(120 + 135 * light)
        b = int(220 + 35 * light)
        ring = 0.5 if abs(d - radius * 0.6) < 1.5 else 1.0  # a translucent ring
        if abs(y - centre) < 3 and x > centre:  # a hand, to see it turn
            r, g, b = 20, 30, 90
        return (r, g, b, int(255 * alpha * ring))

    png(path, size, size, pixel)


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "examples")
    font(os.path.join(directory, "font.png"))
    sprite(os.path.join(directory, "sprite.png"))


if __name__ == "__main__":
    main()
