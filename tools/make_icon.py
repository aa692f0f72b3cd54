#!/usr/bin/env python3
"""Draws the program's icon, a shield with a watch face on it, and writes it
as a Windows icon file with 16, 32 and 48 pixel images (32-bit BGRA bitmaps
with their AND masks). Standard library only.

    python3 tools/make_icon.py [app/watchdog.ico]
"""
import math
import os
import struct
import sys

SIZES = (16, 32, 48)
SUBSAMPLES = 4  # per axis, for smooth edges

# Colours as (red, green, blue).
RIM = (214, 160, 32)       # gold rim of the shield
FIELD = (28, 66, 140)      # dark blue field
FACE = (250, 250, 245)     # watch face
HANDS = (30, 30, 30)
TICKS = (120, 120, 120)


def shield_half_width(y):
    """Half the shield's width at height y (0 top, 1 bottom), or None
    outside it. A straight-sided top half tapering to a point."""
    top, shoulder, tip = 0.06, 0.50, 0.96
    if y < top or y > tip:
        return None
    if y <= shoulder:
        # a slight outward bow along the top edge's corners
        return 0.40 - 0.03 * ((shoulder - y) / (shoulder - top)) ** 2
    t = (y - shoulder) / (tip - shoulder)
    return 0.40 * math.sqrt(max(0.0, 1.0 - t * t))


def inside_shield(x, y, shrink=0.0):
    # A smaller shield with the same centre makes the inner field.
    cx, cy = 0.5, 0.5
    scale = 1.0 - shrink
    sx = cx + (x - cx) / scale
    sy = cy + (y - cy) / scale
    half = shield_half_width(sy)
    return half is not None and abs(sx - 0.5) <= half


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def colour_at(x, y, size):
    """The colour of one sample point, or None where the icon is clear."""
    if not inside_shield(x, y):
        return None
    rim = 0.16 if size <= 16 else 0.12
    if not inside_shield(x, y, rim):
        return RIM
    cx, cy, radius = 0.5, 0.45, 0.22
    distance = math.hypot(x - cx, y - cy)
    if distance > radius:
        return FIELD
    line = max(0.045, 1.3 / size)
    # the hour hand points to 12, the minute hand to 3
    if segment_distance(x, y, cx, cy, cx, cy - radius * 0.75) < line / 2:
        return HANDS
    if segment_distance(x, y, cx, cy, cx + radius * 0.6, cy) < line / 2:
        return HANDS
    if size >= 32:
        for quarter in range(4):
            angle = quarter * math.pi / 2
            tx, ty = cx + math.sin(angle) * radius * 0.85, cy - math.cos(angle) * radius * 0.85
            if math.hypot(x - tx, y - ty) < line * 0.6:
                return TICKS
    return FACE


def render(size):
    """Rows top to bottom of (r, g, b, a) pixels."""
    rows = []
    n = SUBSAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(n):
                for sx in range(n):
                    colour = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, size)
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        covered += 1
            if covered:
                row.append((r // covered, g // covered, b // covered, 255 * covered // (n * n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(size):
    """One icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    # AND mask: 1 bit a pixel, set where the pixel is clear; rows padded to 32 bits.
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(colour) + bytes(mask)


def icon_file(sizes):
    images = [icon_image(size) for size in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "watchdog.ico")
    with open(target, "wb") as f:
        f.write(icon_file(SIZES))
    print("wrote", os.path.normpath(target))


if __name__ == "__main__":
    main()
