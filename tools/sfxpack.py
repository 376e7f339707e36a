#!/usr/bin/env python3
"""sfxpack.py: make a self-extracting file from a stub image and a Zip, without the builder.

A test tool, not shipped. It writes the stub image, the raw-Deflate configuration
block of eight strings, then the Zip with its offsets raised by the length of
both, and fills the 58-byte header record inside the stub image. It shares no
code with the C++ side, so that the two readings of the layout check each other.

  sfxpack.py STUB ZIP OUT --mode install --command "setup.exe" --options "-win32 -setup -le "

Options for broken files: --entry-point, --unwritten, --no-crc, --block-file,
--field N=TEXT. Exit status 0 on success, 2 with a message when refused.
"""

import argparse
import struct
import sys
import zlib

EYECATCHER = b"TRV\x01sfx\x02"
RECORD_SIZE = 58
WRITTEN_MARKER = 0xFFFF
FLAG_PE_SECTION = 0x800

MAX_UNITS = 1285          # the eight strings with their NULs
MAX_BLOCK = 1285 - 6      # the compressed block without the in-memory prefix

PE_HEADERS_SIZE = 248     # signature, file header, 32-bit optional header

# Field order of the configuration block per mode; the names are the options.
FIELDS = {
    "install": ["about", "command", "arguments", "reserved",
                "dialog_text", "title", "greeting", "options"],
    "standard": ["folder", "program", "arguments", "reserved",
                 "greeting", "title", "about", "options"],
}

SIG_LOCAL = b"PK\x03\x04"
SIG_CENTRAL = b"PK\x01\x02"
SIG_END = b"PK\x05\x06"
SIG_END_SPANNED = b"PK\x05\x05"
SIG_ZIP64_END = b"PK\x06\x06"
SIG_ZIP64_LOCATOR = b"PK\x06\x07"


class Refused(Exception):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def pe_headers(image):
    """(e_lfanew, AddressOfEntryPoint) of a 32-bit PE image, every offset checked."""
    if len(image) < 64 or image[:2] != b"MZ":
        raise Refused("stub is not an MZ image")
    nt = u32(image, 60)
    if nt + PE_HEADERS_SIZE > len(image):
        raise Refused("stub's e_lfanew 0x%x puts the PE headers beyond its %d bytes" % (nt, len(image)))
    if image[nt:nt + 4] != b"PE\0\0":
        raise Refused("stub has no PE signature at 0x%x" % nt)
    if u16(image, nt + 24) != 0x10B:
        raise Refused("stub is not a 32-bit PE image")
    return nt, u32(image, nt + 40)


def config_block_text(mode, texts):
    """UTF-16LE bytes of the eight strings, each with its NUL unit."""
    raw = b""
    for name in FIELDS[mode]:
        text = texts.get(name, "")
        if "\0" in text:
            raise Refused("text %s holds a NUL" % name)
        raw += text.encode("utf-16-le") + b"\0\0"
    if len(raw) // 2 > MAX_UNITS:
        raise Refused("configuration texts hold %d units, more than %d" % (len(raw) // 2, MAX_UNITS))
    return raw


def deflate_raw(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def find_end_record(zipdata):
    """Offset of the end record whose comment reaches exactly to the end of the data."""
    at = len(zipdata) - 22
    while at >= 0:
        at = zipdata.rfind(SIG_END, 0, at + 4)
        if at < 0:
            break
        if at + 22 + u16(zipdata, at + 20) == len(zipdata):
            return at
        at -= 1
    if zipdata.rfind(SIG_END_SPANNED) >= 0:
        raise Refused("Zip is a spanned archive")
    raise Refused("Zip has no end-of-central-directory record")


def shift_zip(zipdata, delta):
    """The Zip with every local-header offset and the directory offset raised by delta.

    Returns (shifted bytes, end-record offset inside the Zip, sum of uncompressed sizes).
    Zip64 archives are refused: the header record has 32-bit fields only.
    """
    end = find_end_record(zipdata)
    if end >= 20 and zipdata[end - 20:end - 16] == SIG_ZIP64_LOCATOR:
        raise Refused("Zip64 archives are not supported (Zip64 end locator found)")
    disk, cd_disk, on_disk, count, cd_size, cd_offset = struct.unpack_from("<HHHHII", zipdata, end + 4)
    if 0xFFFF in (disk, cd_disk, on_disk, count) or 0xFFFFFFFF in (cd_size, cd_offset):
        raise Refused("Zip64 archives are not supported (end record holds Zip64 markers)")
    if disk != 0 or cd_disk != 0 or on_disk != count:
        raise Refused("Zip is a multi-disk archive")
    if cd_offset + cd_size != end:
        raise Refused("central directory (0x%x + 0x%x) does not end at the end record (0x%x)"
                      % (cd_offset, cd_size, end))

    out = bytearray(zipdata)
    total = 0
    at = cd_offset
    for index in range(count):
        if at + 46 > end or zipdata[at:at + 4] != SIG_CENTRAL:
            raise Refused("central header %d at 0x%x has no signature" % (index, at))
        csize, usize, name_len, extra_len, comment_len, start_disk = struct.unpack_from("<IIHHHH", zipdata, at + 20)
        local = u32(zipdata, at + 42)
        if 0xFFFFFFFF in (csize, usize, local) or start_disk == 0xFFFF:
            raise Refused("Zip64 archives are not supported (entry %d)" % index)
        extra = zipdata[at + 46 + name_len:at + 46 + name_len + extra_len]
        pos = 0
        while pos + 4 <= len(extra):
            tag, size = struct.unpack_from("<HH", extra, pos)
            if tag == 0x0001:
                raise Refused("Zip64 archives are not supported (entry %d has a Zip64 extra field)" % index)
            pos += 4 + size
        if zipdata[local:local + 4] != SIG_LOCAL:
            raise Refused("entry %d: no local header at 0x%x" % (index, local))
        if local + delta > 0xFFFFFFFF:
            raise Refused("shifted offsets do not fit in 32 bits")
        struct.pack_into("<I", out, at + 42, local + delta)
        total += usize
        at += 46 + name_len + extra_len + comment_len
    if at != end:
        raise Refused("central directory holds more than its %d entries" % count)
    if cd_offset + delta > 0xFFFFFFFF or total > 0xFFFFFFFF:
        raise Refused("archive too large for the header record")
    struct.pack_into("<I", out, end + 16, cd_offset + delta)
    return bytes(out), end, total


def pack(stub, zipdata, mode, texts, flags, wait_name=b"", entry_point=None,
         unwritten=False, crc=True, block=None):
    """The bytes of the self-extracting file."""
    record = stub.find(EYECATCHER)
    if record < 0:
        raise Refused("stub carries no header template (eyecatcher not found)")
    if record + RECORD_SIZE > len(stub):
        raise Refused("stub's header template runs past its end")
    if u16(stub, record + 44) <= 7:
        raise Refused("stub's header version %d is too old" % u16(stub, record + 44))
    if u16(stub, record + 42) != 0:
        raise Refused("stub's header record was already written")
    nt, pe_entry = pe_headers(stub)
    if len(wait_name) > 8:
        raise Refused("wait name longer than 8 characters")

    if block is None:
        block = deflate_raw(config_block_text(mode, texts))
        if len(block) > MAX_BLOCK:
            raise Refused("configuration block compresses to %d bytes, more than %d" % (len(block), MAX_BLOCK))
    archive_offset = len(stub) + len(block)
    shifted, end, total = shift_zip(zipdata, archive_offset)

    out = bytearray(stub + block + shifted)
    struct.pack_into("<IIIIII", out, record + 8,
                     0, archive_offset, len(stub), archive_offset + end, total, flags)
    out[record + 32:record + 41] = wait_name.ljust(8, b"\0") + b"\0"
    struct.pack_into("<H", out, record + 42, 0 if unwritten else WRITTEN_MARKER)
    struct.pack_into("<I", out, record + 54, pe_entry if entry_point is None else entry_point)
    if crc:
        start = nt + PE_HEADERS_SIZE if flags & FLAG_PE_SECTION else 0
        struct.pack_into("<I", out, record + 8, zlib.crc32(out[start:archive_offset]))
    return bytes(out)


def number(text):
    return int(text, 0)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("stub")
    parser.add_argument("zip")
    parser.add_argument("out")
    parser.add_argument("--mode", choices=sorted(FIELDS), default="standard")
    for name in sorted(set(FIELDS["install"] + FIELDS["standard"]) - {"reserved"}):
        parser.add_argument("--" + name.replace("_", "-"), dest=name, default="")
    parser.add_argument("--field", action="append", default=[], metavar="N=TEXT",
                        help="set field N (1-8) of the block directly, after the named texts")
    parser.add_argument("--flags", type=number, default=0, help="the flag word, as it is")
    parser.add_argument("--wait", default="", help="wait name, up to 8 characters (ANSI)")
    parser.add_argument("--no-crc", action="store_true", help="leave 0 in the CRC field")
    parser.add_argument("--entry-point", type=number, help="store this entry point, not the stub's")
    parser.add_argument("--unwritten", action="store_true", help="leave the written marker 0")
    parser.add_argument("--block-file", help="use this file's bytes as the configuration block, as they are")
    args = parser.parse_args(argv)

    try:
        names = FIELDS[args.mode]
        for name in set(FIELDS["install"] + FIELDS["standard"]) - set(names):
            if getattr(args, name, ""):
                raise Refused("--%s is not a text of the %s mode" % (name.replace("_", "-"), args.mode))
        texts = {name: getattr(args, name, "") for name in names if name != "reserved"}
        for item in args.field:
            index, sep, text = item.partition("=")
            if not sep or not index.isdigit() or not 1 <= int(index) <= 8:
                raise Refused("--field wants N=TEXT with N from 1 to 8, not %r" % item)
            texts[names[int(index) - 1]] = text
        block = None
        if args.block_file:
            with open(args.block_file, "rb") as f:
                block = f.read()
        with open(args.stub, "rb") as f:
            stub = f.read()
        with open(args.zip, "rb") as f:
            zipdata = f.read()
        data = pack(stub, zipdata, args.mode, texts, args.flags,
                    wait_name=args.wait.encode("cp1252"), entry_point=args.entry_point,
                    unwritten=args.unwritten, crc=not args.no_crc, block=block)
    except (Refused, OSError, UnicodeError, struct.error) as e:
        print("sfxpack: %s" % e, file=sys.stderr)
        return 2
    with open(args.out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
