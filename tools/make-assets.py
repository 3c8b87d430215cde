#!/usr/bin/env python3
"""Draws the program's icon (resources/parlorix.ico, and as PNG files for the desktop's icon theme in
resources/icons/) and hand pointer (resources/HAND-M.CUR).

Both are our own design, drawn from shapes so they can be made again: run this script from the
repository root and commit what it writes.
"""
import os
import struct
import zlib

HAND = """
.....##.........................
....#oo#........................
....#oo#........................
....#oo#........................
....#oo#........................
....#oo###......................
....#oo#oo###...................
....#oo#oo#oo##.................
....#oo#oo#oo#o#................
.##.#oo#oo#oo#oo#...............
#oo##ooooooooooo#...............
#ooo#ooooooooooo#...............
.#oo#ooooooooooo#...............
..#oooooooooooooo#..............
..#oooooooooooooo#..............
...#ooooooooooooo#..............
...#oooooooooooo#...............
....#ooooooooooo#...............
....#oooooooooo#................
.....#ooooooooo#................
.....#ooooooooo#................
.....###########................
"""


def hand_pixels():
    rows = [r for r in HAND.strip("\n").split("\n")]
    size = 32
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y, row in enumerate(rows):
        for x, c in enumerate(row):
            if c == "#":
                pixels[y][x] = (0, 0, 0, 255)
            elif c == "o":
                pixels[y][x] = (255, 255, 255, 255)
    return pixels


def icon_pixels(size):
    """A blue tile holding a white speech bubble with three transcript lines."""
    sub = 4
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(sub):
                for sx in range(sub):
                    u = (x + (sx + 0.5) / sub) / size
                    v = (y + (sy + 0.5) / sub) / size
                    r, g, b, a = shade(u, v)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = sub * sub
            alpha = acc[3] / n
            if alpha > 0:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]),
                            round(alpha * 255)))
            else:
                row.append((0, 0, 0, 0))
        out.append(row)
    return out


def inside_rounded(u, v, x0, y0, x1, y1, radius):
    if not (x0 <= u <= x1 and y0 <= v <= y1):
        return False
    cx = min(max(u, x0 + radius), x1 - radius)
    cy = min(max(v, y0 + radius), y1 - radius)
    return (u - cx) ** 2 + (v - cy) ** 2 <= radius ** 2


def shade(u, v):
    if not inside_rounded(u, v, 0.03, 0.03, 0.97, 0.97, 0.18):
        return (0, 0, 0, 0)
    bubble = inside_rounded(u, v, 0.16, 0.18, 0.84, 0.68, 0.10)
    # The bubble's tail, a triangle below its left half.
    tail = 0.66 <= v <= 0.84 and 0.28 <= u <= 0.28 + (0.84 - v) * 1.1
    if bubble or tail:
        for top, width in ((0.29, 0.50), (0.41, 0.42), (0.53, 0.30)):
            if top <= v <= top + 0.055 and 0.25 <= u <= 0.25 + width:
                return (40, 90, 160, 1.0)
        return (255, 255, 255, 1.0)
    shadeline = 0.55 + 0.45 * (1 - v)
    return (int(30 * shadeline), int(120 * shadeline), int(215 * shadeline), 1.0)


def bmp_entry(pixels, bits, hotspot=None):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b, a in row:
            line += bytes((b, g, r, a)) if bits == 32 else bytes((b, g, r))
        while len(line) % 4:
            line.append(0)
        xor += line
    mask = bytearray()
    for row in reversed(pixels):
        bitsrow = 0
        line = bytearray()
        for x, (_, _, _, a) in enumerate(row):
            bitsrow = (bitsrow << 1) | (1 if a < 128 else 0)
            if x % 8 == 7:
                line.append(bitsrow)
                bitsrow = 0
        while len(line) % 4:
            line.append(0)
        mask += line
    return header + bytes(xor) + bytes(mask)


def png_entry(pixels):
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_container(path, kind, images):
    """images: list of (size, bits, data, hotspot)."""
    out = bytearray(struct.pack("<HHH", 0, kind, len(images)))
    offset = 6 + 16 * len(images)
    for size, bits, data, hotspot in images:
        dim = 0 if size >= 256 else size
        if kind == 2:
            planes, count = hotspot
        else:
            planes, count = 1, bits
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, planes, count, len(data), offset)
        offset += len(data)
    for _, _, data, _ in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


def main():
    images = []
    # 32 x 32 at 24 bits, then 256, 128 and 48 at 32 bits.
    images.append((32, 24, bmp_entry(icon_pixels(32), 24), None))
    images.append((256, 32, png_entry(icon_pixels(256)), None))
    images.append((128, 32, bmp_entry(icon_pixels(128), 32), None))
    images.append((48, 32, bmp_entry(icon_pixels(48), 32), None))
    write_container("resources/parlorix.ico", 1, images)
    write_container("resources/HAND-M.CUR", 2, [(32, 32, bmp_entry(hand_pixels(), 32), (5, 0))])
    os.makedirs("resources/icons", exist_ok=True)
    for size in (32, 48, 128, 256):
        with open(f"resources/icons/{size}.png", "wb") as f:
            f.write(png_entry(icon_pixels(size)))


if __name__ == "__main__":
    main()
