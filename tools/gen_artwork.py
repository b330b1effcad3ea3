#!/usr/bin/env python3
"""Draw the GUI's icons and product bitmap: a blue badge with an amplifier and its waveform.

Writes ztupdater.ico (program icon), tray1.ico .. tray4.ico (tray animation: the waveform's
phase moves a quarter turn per frame) and product.bmp (splash and About picture) into --out.
Pure Python and deterministic: the same script always writes the same bytes.
"""
import argparse
import math
import os
import struct
import zlib

NAVY = (10, 38, 92)
BLUE_TOP = (33, 118, 214)
BLUE_BOTTOM = (12, 60, 150)
WHITE = (255, 255, 255)
AMBER = (255, 176, 32)
RIM = (150, 200, 255)


def clamp01(v):
    return 0.0 if v < 0 else 1.0 if v > 1 else v


def coverage(distance, pixel):
    """Anti-aliased coverage of a shape from its signed distance (negative inside)."""
    return clamp01(0.5 - distance / pixel)


def rounded_box(px, py, cx, cy, hw, hh, r):
    qx = abs(px - cx) - hw + r
    qy = abs(py - cy) - hh + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def triangle(px, py, pts):
    """Signed distance to a triangle given counter-clockwise or clockwise."""
    d = min(segment(px, py, *pts[i], *pts[(i + 1) % 3]) for i in range(3))
    inside = True
    sign = None
    for i in range(3):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % 3]
        cross = (bx - ax) * (py - ay) - (by - ay) * (px - ax)
        s = cross >= 0
        if sign is None:
            sign = s
        elif s != sign:
            inside = False
    return -d if inside else d


def blend(under, over, alpha):
    return tuple(u + (o - u) * alpha for u, o in zip(under, over))


def wave_points(x0, x1, cy, amplitude, phase, count=48):
    pts = []
    for i in range(count + 1):
        t = i / count
        envelope = math.sin(math.pi * t)
        y = cy - amplitude * envelope * math.sin(2 * math.pi * 2.0 * t + phase)
        pts.append((x0 + (x1 - x0) * t, y))
    return pts


def polyline_distance(px, py, pts):
    return min(segment(px, py, *pts[i], *pts[i + 1]) for i in range(len(pts) - 1))


def badge_pixel(u, v, pixel, phase):
    """Colour and alpha of the badge at (u, v) in the unit square; pixel = one pixel's size."""
    d_box = rounded_box(u, v, 0.5, 0.5, 0.47, 0.47, 0.16)
    alpha = coverage(d_box, pixel)
    if alpha <= 0:
        return (0, 0, 0), 0.0
    colour = blend(BLUE_TOP, BLUE_BOTTOM, v)
    rim = coverage(abs(d_box + 0.02) - 0.012, pixel) * 0.6
    colour = blend(colour, RIM, rim)
    amp = [(0.20, 0.26), (0.20, 0.74), (0.60, 0.50)]
    colour = blend(colour, WHITE, coverage(triangle(u, v, amp), pixel))
    width = max(0.035, pixel * 0.9)
    if 0.24 < v < 0.76 and u > 0.30:
        wave = wave_points(0.34, 0.88, 0.50, 0.17, phase, 32)
        colour = blend(colour, AMBER, coverage(polyline_distance(u, v, wave) - width, pixel))
    return colour, alpha


def render_badge(size, phase):
    pixel = 1.0 / size
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            colour, alpha = badge_pixel((x + 0.5) * pixel, (y + 0.5) * pixel, pixel, phase)
            row.append(tuple(int(round(c)) for c in colour) + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def dib_entry(rows):
    """A 32-bit icon image: BITMAPINFOHEADER, bottom-up BGRA pixels, 1-bit AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def png_entry(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def write_ico(path, images):
    """images: list of (size, bytes); sizes of 256 are stored as PNG, as Windows expects."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


# 5 x 7 block letters for the bitmap's caption.
GLYPHS = {
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "I": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def text_cells(text, x0, y0, cell):
    """Rectangles (cx, cy, half size) of the lit cells of `text` drawn from (x0, y0)."""
    cells = []
    for index, ch in enumerate(text):
        glyph = GLYPHS[ch]
        gx = x0 + index * 6 * cell
        for row, line in enumerate(glyph):
            for col, mark in enumerate(line):
                if mark == "#":
                    cells.append((gx + (col + 0.5) * cell, y0 + (row + 0.5) * cell, cell * 0.5))
    return cells


def render_product(width, height):
    badge_size = 112
    bx, by = 22, (height - badge_size) // 2 - 10
    badge = render_badge(badge_size, 0.0)
    title = text_cells("ZT SERIES", 148, 54, 3.6)
    subtitle = text_cells("FIRMWARE UPDATER", 148, 96, 2.0)
    wave = wave_points(0, width, height - 24, 9, 0.0, 120)
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            t = y / (height - 1)
            colour = blend(NAVY, (4, 16, 44), t)
            glow = math.exp(-((x - 80) ** 2 + (y - height / 2) ** 2) / 9000.0) * 0.35
            colour = blend(colour, BLUE_TOP, glow)
            if height - 40 < y < height - 8:
                colour = blend(colour, AMBER, coverage(polyline_distance(x, y, wave) - 1.2, 1.0) * 0.8)
            for cx, cy, half in title if 48 <= y <= 84 else subtitle if 92 <= y <= 112 else ():
                if abs(x - cx) <= half + 1 and abs(y - cy) <= half + 1:
                    d = rounded_box(x + 0.5, y + 0.5, cx, cy, half * 0.92, half * 0.92, half * 0.25)
                    tint = WHITE if half > 1.5 else RIM
                    colour = blend(colour, tint, coverage(d, 1.0))
            if bx <= x < bx + badge_size and by <= y < by + badge_size:
                r, g, b, a = badge[y - by][x - bx]
                colour = blend(colour, (r, g, b), a / 255.0)
            row.append(tuple(int(round(c)) for c in colour))
        rows.append(row)
    return rows


def write_bmp(path, rows):
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + bytes(pixels))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True, help="folder for the .ico and .bmp files")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    program = [(s, dib_entry(render_badge(s, 0.0))) for s in (16, 24, 32, 48, 64)]
    program.append((256, png_entry(render_badge(256, 0.0))))
    write_ico(os.path.join(args.out, "ztupdater.ico"), program)
    for frame in range(4):
        phase = frame * math.pi / 2
        images = [(s, dib_entry(render_badge(s, phase))) for s in (16, 32)]
        write_ico(os.path.join(args.out, f"tray{frame + 1}.ico"), images)
    write_bmp(os.path.join(args.out, "product.bmp"), render_product(360, 180))


if __name__ == "__main__":
    main()
