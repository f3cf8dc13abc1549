"""Reads 8-bit grey, non-interlaced PNG files with the standard library, for
the tests and the timing script (the package itself decodes no images)."""

import struct
import zlib


def read_grey_png(path):
    """Returns (width, height, pixels as bytes, rows without padding)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("{}: not a PNG file".format(path))
    at, idat, width, height = 8, [], 0, 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at : at + 8])
        body = data[at + 8 : at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour != 0 or interlace != 0:
                raise ValueError("{}: not an 8-bit grey non-interlaced PNG".format(path))
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        at += 12 + length
    raw = zlib.decompress(b"".join(idat))
    pixels = bytearray(width * height)
    previous = bytearray(width)
    for y in range(height):
        start = y * (width + 1)
        kind = raw[start]
        row = bytearray(raw[start + 1 : start + 1 + width])
        if kind == 1:
            for x in range(1, width):
                row[x] = (row[x] + row[x - 1]) & 0xFF
        elif kind == 2:
            row = bytearray((a + b) & 0xFF for a, b in zip(row, previous))
        elif kind == 3:
            for x in range(width):
                left = row[x - 1] if x else 0
                row[x] = (row[x] + ((left + previous[x]) >> 1)) & 0xFF
        elif kind == 4:
            for x in range(width):
                a = row[x - 1] if x else 0
                b = previous[x]
                c = previous[x - 1] if x else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else b if pb <= pc else c
                row[x] = (row[x] + predictor) & 0xFF
        pixels[y * width : (y + 1) * width] = row
        previous = row
    return width, height, bytes(pixels)
