#!/usr/bin/env python3
"""Inputs for the tests of the packer and the checker.

make_stub: a minimal 32-bit PE image (DOS header, NT headers, one section)
whose data carries a blank header template: the eyecatcher, version 8 at +44,
zeros elsewhere. make_zip: a Zip from Python's zipfile, optionally written with
data descriptors. Run as a program, it writes the sample that the C++ side
reads back (layout_crosscheck): sfxsample.py OUT.
"""

import io
import os
import struct
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.normpath(os.path.join(HERE, "..", "..", "tools"))
SFXPACK = os.path.join(TOOLS, "sfxpack.py")
SFXCHECK = os.path.join(TOOLS, "sfxcheck.py")

EYECATCHER = b"TRV\x01sfx\x02"
NT_OFFSET = 0x80
SECTION_TABLE = NT_OFFSET + 248
RECORD_OFFSET = 0x230
STUB_SIZE = 0x400


def make_stub(entry_point=0x1A2B, version=8, nt_offset=NT_OFFSET, second_eyecatcher=False):
    image = bytearray(STUB_SIZE)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 60, nt_offset)
    nt = NT_OFFSET
    image[nt:nt + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", image, nt + 4, 0x14C, 1, 0, 0, 0, 224, 0x0102)
    opt = nt + 24
    struct.pack_into("<H", image, opt, 0x10B)
    struct.pack_into("<I", image, opt + 16, entry_point)
    struct.pack_into("<III", image, opt + 28, 0x400000, 0x1000, 0x200)
    struct.pack_into("<II", image, opt + 56, 0x2000, 0x200)
    struct.pack_into("<H", image, opt + 68, 2)
    struct.pack_into("<I", image, opt + 92, 16)
    sec = SECTION_TABLE
    image[sec:sec + 8] = b".data\0\0\0"
    struct.pack_into("<IIII", image, sec + 8, 0x200, 0x1000, 0x200, 0x200)
    struct.pack_into("<I", image, sec + 36, 0xC0000040)
    image[RECORD_OFFSET:RECORD_OFFSET + 8] = EYECATCHER
    struct.pack_into("<H", image, RECORD_OFFSET + 44, version)
    if second_eyecatcher:
        image[0x300:0x308] = EYECATCHER
    return bytes(image)


class _Unseekable:
    """A sink without seek or tell: zipfile then writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def write(self, b):
        self.data += b
        return len(b)

    def flush(self):
        pass


def make_zip(entries, descriptors=False, comment=b""):
    """entries: (name, bytes, compress_type) tuples."""
    sink = _Unseekable() if descriptors else io.BytesIO()
    with zipfile.ZipFile(sink, "w") as z:
        for name, data, method in entries:
            info = zipfile.ZipInfo(name, date_time=(2020, 5, 17, 12, 30, 0))
            info.compress_type = method
            z.writestr(info, data)
        z.comment = comment
    return bytes(sink.data) if descriptors else sink.getvalue()


SAMPLE_ENTRIES = [
    ("readme.txt", b"hello\n" * 50, zipfile.ZIP_STORED),
    ("data/big.bin", bytes(range(250)) * 20, zipfile.ZIP_DEFLATED),
]

# The C++ cross-check expects exactly these values.
SAMPLE_ARGS = [
    "--mode", "install",
    "--about", "About Quolla",
    "--command", "setup.exe /s",
    "--dialog-text", "Dr\u00fccken Sie OK",
    "--title", "Quolla Setup",
    "--greeting", "Willkommen",
    "--options", "-win32 -setup -t -sta -le -overwrite -runasuser -c setup.exe /s ",
    "--flags", "0x40816",
    "--wait", "_ISDEL",
]


def write_sample(out):
    folder = os.path.dirname(os.path.abspath(out))
    os.makedirs(folder, exist_ok=True)
    stub = os.path.join(folder, "sample-stub.exe")
    archive = os.path.join(folder, "sample.zip")
    with open(stub, "wb") as f:
        f.write(make_stub())
    with open(archive, "wb") as f:
        f.write(make_zip(SAMPLE_ENTRIES))
    subprocess.run([sys.executable, SFXPACK, stub, archive, out] + SAMPLE_ARGS, check=True)
    subprocess.run([sys.executable, SFXCHECK, out], check=True, stdout=subprocess.DEVNULL)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: sfxsample.py OUT")
    write_sample(sys.argv[1])
