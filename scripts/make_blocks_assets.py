#!/usr/bin/env python3
"""Makes the assets of the falling-blocks game in examples/blocks/: its
images (tiles.png, the seven block colours side by side, 22 x 22 each;
back.png, a 32 x 32 background tile; font.png, the bitmap font of the demo)
and its sound effects, raw signed 16-bit little-endian mono samples at
16 kHz as the audio mixer plays them (move, turn, drop, line, four, over,
start .raw). Python's standard library only; the output is the same on
every run.

    scripts/make_blocks_assets.py [output directory, default examples/blocks/]
"""
import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_demo_images import font, png  # noqa: E402  (the same font and PNG writer)

CELL = 22
RATE = 16000

# Block colours in the game's piece order: I O T S Z J L.
COLOURS = [(40, 200, 230), (240, 210, 40), (170, 70, 220), (60, 200, 80),
           (230, 60, 60), (60, 100, 230), (240, 140, 30)]


def tiles(path):
    def pixel(x, y):
        r, g, b = COLOURS[x // CELL]
        cx, cy = x % CELL, y % CELL
        edge = min(cx, cy, CELL - 1 - cx, CELL - 1 - cy)
        if edge == 0:
            shade = 0.45                                # dark outline
        elif edge < 3:
            shade = 1.35 if cx + cy < CELL - 1 else 0.7  # bevel: lit top-left, shaded bottom-right
        else:
            shade = 1.05 - 0.2 * (cx + cy) / (2 * CELL)  # the face, a soft gradient
        return tuple(min(255, int(c * shade)) for c in (r, g, b)) + (255,)

    png(path, CELL * len(COLOURS), CELL, pixel)


def background(path, size=32):
    def pixel(x, y):
        lattice = (x + y) % 16 == 0 or (x - y) % 16 == 0
        base = 24 + (6 if (x // 16 + y // 16) % 2 else 0)
        if lattice:
            return (base + 14, base + 20, base + 40, 255)
        return (base, base + 4, base + 18, 255)

    png(path, size, size, pixel)


def write_raw(path, samples):
    with open(path, "wb") as out:
        out.write(b"".join(struct.pack("<h", max(-32768, min(32767, int(round(s))))) for s in samples))


def tone(frequencies, seconds, amplitude, decay=4.0, square=False):
    """A tone gliding through the given frequencies, fading out exponentially."""
    n = int(RATE * seconds)
    phase, out = 0.0, []
    for i in range(n):
        t = i / n
        position = t * (len(frequencies) - 1)
        k = min(int(position), len(frequencies) - 2) if len(frequencies) > 1 else 0
        f = frequencies[k] if len(frequencies) == 1 else \
            frequencies[k] + (frequencies[k + 1] - frequencies[k]) * (position - k)
        phase += 2 * math.pi * f / RATE
        wave = (1.0 if math.sin(phase) >= 0 else -1.0) if square else math.sin(phase)
        attack = min(1.0, i / 40)  # no click at the start
        out.append(amplitude * attack * math.exp(-decay * t) * wave)
    return out


def notes(frequencies, each, amplitude):
    return [s for f in frequencies for s in tone([f], each, amplitude, decay=3.0)]


def thud(seconds, amplitude):
    state, out, n = 12345, [], int(RATE * seconds)
    body = tone([150, 55], seconds, amplitude, decay=6.0)
    for i in range(n):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        noise = (state / 0x3FFFFFFF - 1.0) * amplitude * 0.3 * math.exp(-30 * i / n)
        out.append(body[i] + noise)
    return out


def sounds(directory):
    effects = {
        "move.raw": tone([1200], 0.025, 5000, decay=6.0, square=True),
        "turn.raw": tone([700, 1400], 0.045, 6000, decay=3.0),
        "drop.raw": thud(0.09, 12000),
        "line.raw": notes([1047, 1319, 1568], 0.075, 9000),
        "four.raw": notes([784, 988, 1175, 1568, 1976, 2349], 0.07, 10000),
        "over.raw": notes([784, 659, 523, 392], 0.15, 9000),
        "start.raw": notes([523, 784], 0.08, 8000),
    }
    for name, samples in effects.items():
        write_raw(os.path.join(directory, name), samples)


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "examples", "blocks")
    os.makedirs(directory, exist_ok=True)
    tiles(os.path.join(directory, "tiles.png"))
    background(os.path.join(directory, "back.png"))
    font(os.path.join(directory, "font.png"))
    sounds(directory)


if __name__ == "__main__":
    main()
