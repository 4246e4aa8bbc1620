#!/usr/bin/env python3
"""Draws the installer's icon and writes res/vorlen.ico: five 32-bit PNG images (16, 32, 48,
64 and 256 pixels). Standard library only; run it again after changing the artwork."""
import os
import struct
import zlib

BACKGROUND = (27, 32, 43)
RIM = (224, 182, 74)
MARK = (232, 234, 240)


def inside_rounded(x, y, size, radius):
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


def sample(x, y, size):
    """Colour and coverage of one point of the artwork: a dark rounded tile with a gold rim
    and a bright V, drawn as two strokes, over a small gold flame."""
    u, v = x / size, y / size
    if not inside_rounded(u, v, 1.0, 0.2):
        return None
    if not inside_rounded(u - 0.06, v - 0.06, 0.88, 0.15):
        return RIM
    stroke = 0.085
    if min(distance_to_segment(u, v, 0.26, 0.26, 0.5, 0.76),
           distance_to_segment(u, v, 0.74, 0.26, 0.5, 0.76)) < stroke:
        return MARK
    if (u - 0.5) ** 2 / 0.006 + (v - 0.33) ** 2 / 0.02 < 1:
        return RIM
    return BACKGROUND


def render(size):
    grid = 4  # samples per pixel side, for smooth edges
    rows = []
    for py in range(size):
        row = bytearray([0])
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(grid):
                for sx in range(grid):
                    c = sample(px + (sx + 0.5) / grid, py + (sy + 0.5) / grid, size)
                    if c:
                        r, g, b, covered = r + c[0], g + c[1], b + c[2], covered + 1
            if covered:
                row += bytes([r // covered, g // covered, b // covered, 255 * covered // (grid * grid)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    sizes = [16, 32, 48, 64, 256]
    images = [render(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, png in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "vorlen.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
