"""Windows bitmaps (1, 4, 8, 24 and 32 bits, uncompressed) as PNG files, so that
the wizard's pictures and screenshots can be looked at."""
import struct
import sys
import zlib


def read_bmp(data):
    """(width, height, rows of (r, g, b) tuples, top row first)."""
    if data[:2] != b"BM":
        raise ValueError("not a bitmap")
    offset = struct.unpack_from("<I", data, 10)[0]
    size, width, height, _, bits, compression, _, _, _, used = struct.unpack_from("<IiiHHIIiiI", data, 14)
    if compression not in (0, 3):
        raise ValueError("compressed bitmap")
    palette = []
    if bits <= 8:
        count = used or (1 << bits)
        at = 14 + size
        palette = [(data[at + 4 * i + 2], data[at + 4 * i + 1], data[at + 4 * i]) for i in range(count)]
    stride = ((abs(width) * bits + 31) // 32) * 4
    rows = []
    for y in range(abs(height)):
        line = data[offset + y * stride: offset + (y + 1) * stride]
        row = []
        for x in range(width):
            if bits == 24:
                b, g, r = line[3 * x: 3 * x + 3]
                row.append((r, g, b))
            elif bits == 32:
                b, g, r = line[4 * x: 4 * x + 3]
                row.append((r, g, b))
            else:
                per = 8 // bits
                v = (line[x // per] >> (8 - bits * (x % per + 1))) & ((1 << bits) - 1)
                row.append(palette[v])
        rows.append(row)
    if height > 0:
        rows.reverse()
    return width, abs(height), rows


def png(width, height, rows):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(name, body):
        return struct.pack(">I", len(body)) + name + body + struct.pack(">I", zlib.crc32(name + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def convert(source, target, scale=1):
    with open(source, "rb") as f:
        width, height, rows = read_bmp(f.read())
    if scale > 1:
        rows = [[p for p in row for _ in range(scale)] for row in rows for _ in range(scale)]
        width, height = width * scale, height * scale
    with open(target, "wb") as f:
        f.write(png(width, height, rows))


if __name__ == "__main__":
    convert(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 1)
