#!/usr/bin/env python3
"""Draws Faultpost's two icons and writes them as .ico files beside this
script: faultpost.ico (the window icons: a report sheet with a crack on a
blue tile) and crash.ico (the picture beside the apology: a warning sign).
Pure standard library, deterministic, so the committed files can be checked
by running it again:  python3 src/ui/icons/draw_icons.py"""

import math
import os
import struct

SAMPLES = 4  # supersampling per axis for smooth edges


def rounded_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1


def polygon(x, y, points):
    inside = False
    n = len(points)
    for i in range(n):
        ax, ay = points[i]
        bx, by = points[(i + 1) % n]
        if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
            inside = not inside
    return inside


def thick_polyline(x, y, points, width):
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        if math.hypot(x - (ax + t * dx), y - (ay + t * dy)) <= width / 2:
            return True
    return False


def report_icon(x, y):
    """Shapes in a 0..1 square; the last layer that covers a point wins."""
    colour = None
    if rounded_rect(x, y, 0.02, 0.02, 0.98, 0.98, 0.18):
        colour = (0x1F, 0x5F, 0xBF)
    sheet = [(0.26, 0.14), (0.62, 0.14), (0.76, 0.28), (0.76, 0.86), (0.26, 0.86)]
    if polygon(x, y, sheet):
        colour = (0xFF, 0xFF, 0xFF)
    if polygon(x, y, [(0.62, 0.14), (0.62, 0.28), (0.76, 0.28)]):
        colour = (0xB8, 0xC8, 0xE0)
    for row in (0.40, 0.52, 0.64):
        if 0.34 <= x <= 0.66 and abs(y - row) <= 0.025:
            colour = (0x9A, 0xA8, 0xBC)
    if thick_polyline(x, y, [(0.50, 0.14), (0.42, 0.34), (0.56, 0.48), (0.44, 0.66), (0.52, 0.86)], 0.07):
        colour = (0xD8, 0x26, 0x26)
    return colour


def warning_icon(x, y):
    colour = None
    if polygon(x, y, [(0.5, 0.04), (0.97, 0.92), (0.03, 0.92)]):
        colour = (0xC0, 0x3A, 0x10)
    if polygon(x, y, [(0.5, 0.13), (0.89, 0.865), (0.11, 0.865)]):
        colour = (0xF5, 0xA6, 0x23)
    if thick_polyline(x, y, [(0.5, 0.34), (0.5, 0.62)], 0.11):
        colour = (0x30, 0x20, 0x10)
    if math.hypot(x - 0.5, y - 0.75) <= 0.065:
        colour = (0x30, 0x20, 0x10)
    return colour


def render(shape, size):
    """BGRA rows, top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shape((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size)
                    if c:
                        covered += 1
                        r += c[0]
                        g += c[1]
                        b += c[2]
            if covered:
                row.append((b // covered, g // covered, r // covered, covered * 255 // (SAMPLES * SAMPLES)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(channel for pixel in row for channel in pixel) for row in reversed(rows))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def write_icon(path, shape, sizes):
    images = [icon_image(render(shape, size)) for size in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b"".join(images)
    with open(path, "wb") as out:
        out.write(data)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_icon(os.path.join(here, "faultpost.ico"), report_icon, [16, 32, 48])
    write_icon(os.path.join(here, "crash.ico"), warning_icon, [32])
