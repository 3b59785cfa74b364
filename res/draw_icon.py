#!/usr/bin/env python3
"""Draws Castorel's icon: a disk drive with a green arrow going into it, the picture of a tool
that puts files onto a drive. Writes one .ico with seven images: 256 px as PNG, and 128, 96,
48, 32, 24 and 16 px as 24-bit bitmaps with a transparency mask. Deterministic, stdlib only."""
import struct
import sys
import zlib

SIZES = (256, 128, 96, 48, 32, 24, 16)
BODY = (96, 106, 122)
BODY_EDGE = (52, 58, 70)
SLOT = (36, 40, 48)
LED = (80, 230, 100)
ARROW = (30, 160, 70)
ARROW_EDGE = (16, 92, 40)


def in_round_rect(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and left <= x <= right and top <= y <= bottom


def in_arrow(x, y, grow):
    shaft = 0.40 - grow <= x <= 0.60 + grow and 0.04 - grow <= y <= 0.36
    # Head: a triangle with its tip pointing down into the drive.
    depth = y - (0.30 - grow)
    half_width = (0.62 + 2 * grow - y) * 0.95
    head = 0 <= depth and abs(x - 0.5) <= half_width
    return shaft or head


def colour_at(x, y):
    """The colour at a point of the unit square, or None where the icon is transparent."""
    if in_arrow(x, y, 0.0):
        return ARROW
    if in_arrow(x, y, 0.035):
        return ARROW_EDGE
    if in_round_rect(x, y, 0.10, 0.55, 0.90, 0.90, 0.07):
        if (x - 0.78) ** 2 + (y - 0.78) ** 2 <= 0.045 ** 2:
            return LED
        if 0.18 <= x <= 0.58 and 0.755 <= y <= 0.805:
            return SLOT
        return BODY
    if in_round_rect(x, y, 0.07, 0.52, 0.93, 0.93, 0.09):
        return BODY_EDGE
    return None


def render(size):
    """Rows of (r, g, b, a), top row first, anti-aliased by supersampling."""
    samples = 4 if size <= 48 else 2
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    if c:
                        r, g, b, hits = r + c[0], g + c[1], b + c[2], hits + 1
            if hits:
                row.append((r // hits, g // hits, b // hits, 255 * hits // samples ** 2))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def bitmap(rows):
    """A 24-bit icon bitmap: header, bottom-up BGR rows, then the 1-bit AND mask (1 = clear)."""
    size = len(rows)
    colour_stride = (size * 3 + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    colours, mask = b"", b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r)) if a >= 128 else b"\0\0\0" for r, g, b, a in row)
        colours += line + b"\0" * (colour_stride - len(line))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, len(colours) + len(mask), 0, 0, 0, 0)
    return header + colours + mask


def icon_file():
    images = [(size, png(render(size)) if size == 256 else bitmap(render(size))) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, payload = b"", b""
    for size, data in images:
        bits = 32 if size == 256 else 24
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
        payload += data
    return directory + entries + payload


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(icon_file())
