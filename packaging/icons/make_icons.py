#!/usr/bin/env python3
"""Draws the pklfix icon and writes it as PNGs for Linux desktops and as a
Windows .ico with one 2-colour and two 16-colour images.

The picture: a calendar sheet with a spectrum peak on it, the date of a
measurement read from its spectrum. It is drawn from shapes in unit
coordinates (0..1, y downwards) and sampled several times per pixel.

Run it from anywhere; it writes next to itself. The build never runs it: the
files it writes are committed. Needs only the Python standard library.
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
PNG_SIZES = (16, 32, 48, 64, 128, 256)

# The 16 colours every Windows display can show; a 4-bit image indexes these.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, NAVY, SILVER, RED, LIME, BLUE, WHITE = 0, 1, 4, 7, 9, 10, 12, 15

# Colours of the full-colour images, by part.
FULL = {
    "outline": (24, 32, 64),
    "sheet": (255, 255, 255),
    "band": (214, 40, 40),
    "ring": (60, 60, 70),
    "grid": (200, 205, 215),
    "peak": (30, 80, 220),
    "peak_edge": (10, 30, 120),
}
# The same parts in the 16 colours, and in black and white.
INDEXED = {
    "outline": BLACK, "sheet": WHITE, "band": RED, "ring": BLACK,
    "grid": SILVER, "peak": BLUE, "peak_edge": NAVY,
}
MONO = {
    "outline": BLACK, "sheet": WHITE, "band": BLACK, "ring": BLACK,
    "grid": WHITE, "peak": BLACK, "peak_edge": BLACK,
}

SHEET = (0.08, 0.14, 0.92, 0.94)  # left, top, right, bottom
BAND_BOTTOM = 0.34
RINGS = (0.30, 0.70)


def rounded_box(x, y, box, radius):
    left, top, right, bottom = box
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def spectrum(x, size):
    """Height of the spectrum (0..1 of the sheet's lower part) at x. Peaks
    are kept at least a couple of pixels wide so small sizes still show them."""
    t = (x - SHEET[0]) / (SHEET[2] - SHEET[0])
    width = max(0.065, 2.0 / size)
    background = 0.10 + 0.08 * math.exp(-t * 2.5)
    small = 0.30 * math.exp(-((t - 0.28) / (width * 0.8)) ** 2)
    big = 0.85 * math.exp(-((t - 0.62) / width) ** 2)
    return background + small + big


def part_at(x, y, size):
    """The part of the picture at (x, y), or None where it is transparent.
    Fine detail is left out where the size has no pixels for it."""
    line = line_width(size)

    def snap(v):
        # Edges on pixel boundaries keep one-pixel lines one pixel wide.
        return round(v * size) / size if size <= 32 else v

    sheet = tuple(snap(v) for v in SHEET)
    band_bottom = snap(BAND_BOTTOM)
    for cx in RINGS:
        if abs(x - cx) <= max(0.045, line) and snap(0.06) <= y <= snap(0.24):
            return "ring"
    if not rounded_box(x, y, sheet, 0.08):
        return None
    inner = (sheet[0] + line, sheet[1] + line, sheet[2] - line, sheet[3] - line)
    if not rounded_box(x, y, inner, max(0.08 - line, 0.0)):
        return "outline"
    if y <= band_bottom:
        return "band"
    if y <= band_bottom + line:
        return "outline"
    floor = inner[3] - 0.04
    top = BAND_BOTTOM + 0.06
    height = spectrum(x, size) * (floor - top)
    surface = floor - height
    if y >= surface:
        return "peak_edge" if size >= 48 and y <= surface + line else "peak"
    if size >= 32:
        # Faint day lines of the calendar behind the spectrum.
        for row in (0.52, 0.70):
            if abs(y - row) <= line / 2:
                return "grid"
    return "sheet"


def line_width(size):
    """One pixel at the small sizes, a fixed share of the picture above."""
    return max(1.0 / size, 0.035)


def render_rgba(size, samples=4):
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    part = part_at(x, y, size)
                    if part is None:
                        continue
                    cr, cg, cb = FULL[part]
                    r, g, b, a = r + cr, g + cg, b + cb, a + 1
            n = samples * samples
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
        pixels.append(row)
    return pixels


def render_indexed(size, palette_of, samples=5):
    """Each pixel takes the part most of its samples fall on: crisp edges,
    no blended colours a small palette cannot show. None is transparent."""
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    part = part_at(x, y, size)
                    key = None if part is None else palette_of[part]
                    votes[key] = votes.get(key, 0) + 1
            row.append(max(votes.items(), key=lambda kv: (kv[1], kv[0] is not None))[0])
        pixels.append(row)
    return pixels


def png_bytes(pixels):
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def pack_rows(rows, bits):
    """Bottom-up rows of `bits`-bit values, each padded to 4 bytes, as a
    device-independent bitmap stores them."""
    out = bytearray()
    for row in reversed(rows):
        bitbuf = 0
        nbits = 0
        line = bytearray()
        for value in row:
            bitbuf = (bitbuf << bits) | value
            nbits += bits
            if nbits == 8:
                line.append(bitbuf)
                bitbuf = nbits = 0
        if nbits:
            line.append(bitbuf << (8 - nbits))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def ico_image(pixels, bits, palette):
    """One icon image: header, palette, colour bits, then the mask that
    makes transparent pixels show the desktop."""
    size = len(pixels)
    colours = [[0 if v is None else v for v in row] for row in pixels]
    mask = [[1 if v is None else 0 for v in row] for row in pixels]
    xor = pack_rows(colours, bits)
    and_ = pack_rows(mask, 1)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(xor) + len(and_),
                         0, 0, len(palette), 0)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + quads + xor + and_


def ico_bytes(images):
    """images: (size, bits, palette, data) each."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, bits, palette, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, len(palette) % 256, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
        body += data
    return out + body


def main():
    for size in PNG_SIZES:
        folder = os.path.join(HERE, "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "pklfix.png"), "wb") as f:
            f.write(png_bytes(render_rgba(size)))

    mono_palette = [VGA16[BLACK], VGA16[WHITE]]
    mono = [[None if v is None else (0 if v == BLACK else 1) for v in row]
            for row in render_indexed(32, MONO)]
    images = [
        (32, 1, mono_palette, ico_image(mono, 1, mono_palette)),
        (32, 4, VGA16, ico_image(render_indexed(32, INDEXED), 4, VGA16)),
        (16, 4, VGA16, ico_image(render_indexed(16, INDEXED), 4, VGA16)),
    ]
    with open(os.path.join(HERE, "pklfix.ico"), "wb") as f:
        f.write(ico_bytes(images))


if __name__ == "__main__":
    main()
