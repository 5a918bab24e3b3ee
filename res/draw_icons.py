#!/usr/bin/env python3
"""Draws the program's icons and writes them as PNG files and as C++ byte arrays.

The window icon (128) is a compass star on a night-blue disc; the three tray frames (130, 131,
132) are the same disc with the star turned by 30 degrees each, so cycling them makes it spin. Run from anywhere:
    python3 res/draw_icons.py
It rewrites res/*.png, res/lodestar_icons.inc and the Windows icon files res/*.ico (the window
icon's three sizes in icon128.ico, one frame in each of icon130.ico .. icon132.ico); the output is
the same on every run.
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SUPERSAMPLE = 4

NIGHT = (18, 34, 74)
NIGHT_EDGE = (10, 20, 46)
RING = (214, 172, 64)
GOLD_LIGHT = (255, 226, 120)
GOLD_DARK = (201, 142, 28)
SKY_LIGHT = (190, 222, 255)
SKY_DARK = (96, 148, 214)
CENTRE = (255, 255, 255)


def triangle_contains(p, a, b, c):
    def side(p1, p2, p3):
        return (p1[0] - p3[0]) * (p2[1] - p3[1]) - (p2[0] - p3[0]) * (p1[1] - p3[1])

    d1, d2, d3 = side(p, a, b), side(p, b, c), side(p, c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def polar(radius, degrees):
    angle = math.radians(degrees - 90.0)  # 0 degrees points up
    return (radius * math.cos(angle), radius * math.sin(angle))


def star_triangles(turn, long_radius, short_radius, waist):
    """The star's halves as (colour, triangle) pairs, back to front."""
    shapes = []
    for k in range(4):  # short diagonal points first, so the long ones lie on top
        heading = turn + 45.0 + 90.0 * k
        tip = polar(short_radius, heading)
        shapes.append((SKY_LIGHT, ((0.0, 0.0), tip, polar(waist, heading - 45.0))))
        shapes.append((SKY_DARK, ((0.0, 0.0), tip, polar(waist, heading + 45.0))))
    for k in range(4):
        heading = turn + 90.0 * k
        tip = polar(long_radius, heading)
        shapes.append((GOLD_LIGHT, ((0.0, 0.0), tip, polar(waist, heading - 45.0))))
        shapes.append((GOLD_DARK, ((0.0, 0.0), tip, polar(waist, heading + 45.0))))
    return shapes


def sample(x, y, turn):
    """Colour and opacity of one point; coordinates run -1..1 from the centre."""
    r = math.hypot(x, y)
    if r > 0.98:
        return None, 0.0
    colour = NIGHT if r < 0.86 else (RING if r <= 0.92 else NIGHT_EDGE)
    for shade, tri in star_triangles(turn, 0.80, 0.80 * 0.55, 0.80 * 0.26):
        if triangle_contains((x, y), *tri):
            colour = shade
    if r < 0.08:
        colour = CENTRE
    return colour, 1.0


def render(size, turn):
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = bytearray()
        for px in range(size):
            rs = gs = bs = covered = 0.0
            for sy in range(n):
                for sx in range(n):
                    x = ((px + (sx + 0.5) / n) / size) * 2.0 - 1.0
                    y = ((py + (sy + 0.5) / n) / size) * 2.0 - 1.0
                    colour, alpha = sample(x, y, turn)
                    if alpha > 0.0:
                        rs += colour[0] * alpha
                        gs += colour[1] * alpha
                        bs += colour[2] * alpha
                        covered += alpha
            count = n * n
            if covered > 0.0:
                row += bytes((round(rs / covered), round(gs / covered), round(bs / covered),
                              round(255 * covered / count)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png_bytes(size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def ico_bytes(images):
    """An icon file of uncompressed 32-bit images, (size, rows) each: what every Windows reads."""
    header = struct.pack("<HHH", 0, 1, len(images))
    entries, bodies = b"", b""
    offset = len(header) + 16 * len(images)
    for size, rows in images:
        mask_stride = ((size + 31) // 32) * 4
        info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
        pixels = bytearray()
        mask = bytearray()
        for row in reversed(rows):  # bottom-up, BGRA
            bits = bytearray(mask_stride)
            for x in range(size):
                r, g, b, a = row[4 * x:4 * x + 4]
                pixels += bytes((b, g, r, a))
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        body = info + bytes(pixels) + bytes(mask)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(body), offset)
        bodies += body
        offset += len(body)
    return header + entries + bodies


def c_array(name, data):
    lines = [f"const unsigned char {name}[] = {{"]
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02x}" for b in data[i:i + 16]) + ",")
    lines.append("};")
    return "\n".join(lines)


def main():
    images = []  # (array name, file name, bytes)
    icons = {"icon128.ico": []}  # file name: (size, rows) of each image
    for size in (16, 32, 48):
        rows = render(size, 0.0)
        icons["icon128.ico"].append((size, rows))
        images.append((f"kWindowIcon{size}", f"icon128_{size}.png", png_bytes(size, rows)))
    for frame in range(3):
        rows = render(32, 30.0 * frame)
        icons[f"icon{130 + frame}.ico"] = [(32, rows)]
        images.append((f"kTrayFrame{frame}", f"icon{130 + frame}.png", png_bytes(32, rows)))
    for file_name, sizes in icons.items():
        with open(os.path.join(HERE, file_name), "wb") as out:
            out.write(ico_bytes(sizes))

    for _, file_name, data in images:
        with open(os.path.join(HERE, file_name), "wb") as out:
            out.write(data)

    parts = ["// Generated by res/draw_icons.py: the window icon (three sizes) and the three tray",
             "// frames, as PNG bytes. Edit the script, not this file.", ""]
    for name, _, data in images:
        parts.append(c_array(name, data))
        parts.append("")
    with open(os.path.join(HERE, "lodestar_icons.inc"), "w") as out:
        out.write("\n".join(parts))


if __name__ == "__main__":
    main()
