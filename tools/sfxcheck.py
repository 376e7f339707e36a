#!/usr/bin/env python3
"""sfxcheck.py: verify a self-extracting file and print its header record and texts.

A test tool, not shipped. It checks what the stub checks at start and what the
builder promises: the header record (written marker, version, flags, entry
point), the CRC over the head of the file, the configuration block (raw
Deflate of exactly eight UTF-16 strings) and the end record at the recorded
offset, with the central directory it names.

  sfxcheck.py FILE [--json]

Exit status 0 when the file is good, 1 with a message when it is not, 2 when it
cannot be read.
"""

import argparse
import json
import struct
import sys
import zlib

EYECATCHER = b"TRV\x01sfx\x02"
RECORD_SIZE = 58
PE_HEADERS_SIZE = 248
MAX_UNITS = 1285
MAX_BLOCK = 1285 - 6

FLAG_PE_SECTION = 0x800
FLAG_SPANNING = 0x1000
FLAGS_KNOWN = 0x7FBFDF    # 0x20, 0x4000 and 0x800000 up are never set

FIELD_NAMES = {
    "install": ["about", "command", "arguments", "reserved",
                "dialog text", "title", "greeting", "options"],
    "standard": ["folder", "program", "arguments", "reserved",
                 "greeting", "title", "about", "options"],
}


class Bad(Exception):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def read_record(data):
    at = data.find(EYECATCHER)
    if at < 0:
        raise Bad("no header record (eyecatcher not found)")
    if at + RECORD_SIZE > len(data):
        raise Bad("header record at 0x%x runs past the end of the file" % at)
    (crc, archive_offset, stub_length, end_record, total_size, flags) = struct.unpack_from("<6I", data, at + 8)
    wait = data[at + 32:at + 40]
    return {
        "record_offset": at,
        "crc32": crc,
        "archive_offset": archive_offset,
        "stub_length": stub_length,
        "end_record_offset": end_record,
        "total_size": total_size,
        "flags": flags,
        "wait_name": wait.split(b"\0")[0].decode("cp1252", "replace"),
        "byte_40": data[at + 40],
        "byte_41": data[at + 41],
        "written_marker": u16(data, at + 42),
        "header_version": u16(data, at + 44),
        "comment_offset": u32(data, at + 46),
        "comment_longest_line": data[at + 50],
        "comment_lines": data[at + 51],
        "bytes_52": u16(data, at + 52),
        "entry_point": u32(data, at + 54),
    }


def pe_headers(data):
    if len(data) < 64 or data[:2] != b"MZ":
        raise Bad("not an MZ image")
    nt = u32(data, 60)
    if nt + PE_HEADERS_SIZE > len(data):
        raise Bad("e_lfanew 0x%x puts the PE headers beyond the file" % nt)
    if data[nt:nt + 4] != b"PE\0\0":
        raise Bad("no PE signature at 0x%x" % nt)
    if u16(data, nt + 24) != 0x10B:
        raise Bad("not a 32-bit PE image")
    return nt, u32(data, nt + 40)


def check_record(data, rec):
    if rec["written_marker"] == 0:
        raise Bad("header record was never written (marker 0)")
    if rec["written_marker"] != 0xFFFF:
        raise Bad("written marker is 0x%04x, not 0xFFFF" % rec["written_marker"])
    if rec["header_version"] <= 7:
        raise Bad("header version %d is too old" % rec["header_version"])
    if rec["byte_40"] != 0:
        raise Bad("byte 40 behind the wait name is 0x%02x, not 0" % rec["byte_40"])
    if rec["byte_41"] != 0 or rec["bytes_52"] != 0:
        raise Bad("unused bytes 41 or 52-53 of the record are not 0")
    if rec["flags"] & ~FLAGS_KNOWN:
        raise Bad("flags 0x%x hold bits that are never set (0x%x)" % (rec["flags"], rec["flags"] & ~FLAGS_KNOWN))
    nt, entry = pe_headers(data)
    if entry != rec["entry_point"]:
        raise Bad("entry point 0x%x in the record differs from the image's 0x%x" % (rec["entry_point"], entry))
    if not rec["archive_offset"] <= len(data):
        raise Bad("archive offset 0x%x lies beyond the file (%d bytes)" % (rec["archive_offset"], len(data)))
    if rec["stub_length"] and rec["record_offset"] + RECORD_SIZE > rec["stub_length"]:
        raise Bad("header record lies outside the stub image")
    return nt


def check_crc(data, rec, nt):
    """The CRC range as (start, end), or None when the record holds no CRC."""
    if rec["crc32"] == 0:
        return None
    start = nt + PE_HEADERS_SIZE if rec["flags"] & FLAG_PE_SECTION else 0
    end = rec["archive_offset"]
    if start > end:
        raise Bad("CRC range 0x%x..0x%x is empty" % (start, end))
    field = rec["record_offset"] + 8
    if field + 4 > end:
        raise Bad("header record lies behind the archive offset 0x%x" % end)
    head = bytearray(data[:end])
    head[field:field + 4] = b"\0\0\0\0"
    value = zlib.crc32(head[start:end])
    if value != rec["crc32"]:
        raise Bad("CRC-32 over 0x%x..0x%x is 0x%08x, the record holds 0x%08x" % (start, end, value, rec["crc32"]))
    return start, end


def check_texts(data, rec):
    """The eight strings of the configuration block, or None without a block."""
    if rec["stub_length"] == 0:
        return None
    if rec["archive_offset"] <= rec["stub_length"]:
        raise Bad("archive offset 0x%x is not behind the stub length 0x%x"
                  % (rec["archive_offset"], rec["stub_length"]))
    block = data[rec["stub_length"]:rec["archive_offset"]]
    if len(block) > MAX_BLOCK:
        raise Bad("configuration block of %d bytes is longer than %d" % (len(block), MAX_BLOCK))
    d = zlib.decompressobj(-15)
    try:
        raw = d.decompress(block, 2 * MAX_UNITS + 1)
    except zlib.error as e:
        raise Bad("configuration block does not inflate: %s" % e)
    if len(raw) > 2 * MAX_UNITS or d.unconsumed_tail:
        raise Bad("configuration block inflates to more than %d units" % MAX_UNITS)
    if not d.eof:
        raise Bad("configuration block ends inside its Deflate stream")
    if d.unused_data:
        raise Bad("configuration block holds %d bytes behind its Deflate stream" % len(d.unused_data))
    if len(raw) % 2:
        raise Bad("configuration texts are %d bytes, not whole UTF-16 units" % len(raw))
    texts = split_units(raw)
    if texts is None:
        raise Bad("configuration texts end with a string that has no NUL")
    if len(texts) != 8:
        raise Bad("configuration block holds %d strings, not exactly 8" % len(texts))
    return texts


def split_units(raw):
    """The NUL-ended UTF-16LE strings of raw, or None when text follows the last NUL."""
    texts, start = [], 0
    for i in range(0, len(raw), 2):
        if raw[i:i + 2] == b"\0\0":
            texts.append(raw[start:i].decode("utf-16-le", "surrogatepass"))
            start = i + 2
    return texts if start == len(raw) else None


def check_end_record(data, rec):
    """Central-directory facts when the end record was checked, else None."""
    if rec["flags"] & FLAG_SPANNING:
        return None  # the end record lies on the last disk
    at = rec["end_record_offset"]
    if at == 0:
        raise Bad("no end-record offset in the record")
    if at + 4 > len(data):
        raise Bad("end-record offset 0x%x lies beyond the file" % at)
    sig = data[at:at + 4]
    if sig == b"PK\x05\x05":
        return {"signature": "spanned"}
    if sig != b"PK\x05\x06":
        raise Bad("no end-record signature at 0x%x (found %s)" % (at, sig.hex()))
    if at + 22 > len(data):
        raise Bad("end record at 0x%x is cut off" % at)
    count, cd_size, cd_offset, comment_len = struct.unpack_from("<HIIH", data, at + 10)
    if at + 22 + comment_len > len(data):
        raise Bad("archive comment runs past the end of the file")
    tail = data[at + 22 + comment_len:]
    if tail.strip(b"\0") or (tail and not rec["flags"] & FLAG_PE_SECTION):
        raise Bad("%d bytes behind the end record" % len(tail))
    if count == 0xFFFF or 0xFFFFFFFF in (cd_size, cd_offset):
        return {"signature": "end", "entries": count, "zip64": True}
    if cd_offset + cd_size != at:
        raise Bad("central directory 0x%x + 0x%x does not end at the end record 0x%x" % (cd_offset, cd_size, at))
    if count and data[rec["archive_offset"]:rec["archive_offset"] + 4] != b"PK\x03\x04":
        raise Bad("no local header at the archive offset 0x%x" % rec["archive_offset"])
    total = 0
    pos = cd_offset
    for index in range(count):
        if pos + 46 > at or data[pos:pos + 4] != b"PK\x01\x02":
            raise Bad("central header %d at 0x%x has no signature" % (index, pos))
        usize, name_len, extra_len, comment_len = struct.unpack_from("<IHHH", data, pos + 24)
        local = u32(data, pos + 42)
        if data[local:local + 4] != b"PK\x03\x04" or local < rec["archive_offset"]:
            raise Bad("entry %d: no local header at 0x%x" % (index, local))
        total += usize
        pos += 46 + name_len + extra_len + comment_len
    if pos != at:
        raise Bad("central directory holds more than its %d entries" % count)
    if total & 0xFFFFFFFF != rec["total_size"]:
        raise Bad("total size %d in the record, the entries hold %d" % (rec["total_size"], total))
    return {"signature": "end", "entries": count, "central_directory": cd_offset}


def check(data):
    rec = read_record(data)
    nt = check_record(data, rec)
    crc_range = check_crc(data, rec, nt)
    texts = check_texts(data, rec)
    archive = check_end_record(data, rec)
    mode = None
    if texts is not None:
        mode = "install" if "-setup " in texts[7] else "standard"
    return {"record": rec, "crc_range": crc_range, "mode": mode, "texts": texts, "archive": archive}


def show(result):
    rec = result["record"]
    print("header record at 0x%x" % rec["record_offset"])
    for name in ("crc32", "archive_offset", "stub_length", "end_record_offset", "flags",
                 "written_marker", "header_version", "comment_offset", "entry_point"):
        print("  %-20s 0x%x" % (name, rec[name]))
    for name in ("total_size", "comment_longest_line", "comment_lines"):
        print("  %-20s %d" % (name, rec[name]))
    print("  %-20s %s" % ("wait_name", json.dumps(rec["wait_name"])))
    if result["crc_range"]:
        print("CRC-32 over 0x%x..0x%x matches" % tuple(result["crc_range"]))
    else:
        print("no CRC")
    if result["texts"] is None:
        print("no configuration block")
    else:
        print("configuration texts (%s mode):" % result["mode"])
        for number, (name, text) in enumerate(zip(FIELD_NAMES[result["mode"]], result["texts"]), 1):
            print("  %d %-12s %s" % (number, name, json.dumps(text, ensure_ascii=False)))
    if result["archive"] is None:
        print("spanned: end record not checked")
    else:
        print("end record: %s" % json.dumps(result["archive"]))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("file")
    parser.add_argument("--json", action="store_true", help="print the result as JSON")
    args = parser.parse_args(argv)
    try:
        with open(args.file, "rb") as f:
            data = f.read()
    except OSError as e:
        print("sfxcheck: %s" % e, file=sys.stderr)
        return 2
    try:
        result = check(data)
    except (Bad, struct.error) as e:
        print("sfxcheck: %s: %s" % (args.file, e), file=sys.stderr)
        return 1
    if args.json:
        print(json.dumps(result, ensure_ascii=False, indent=1))
    else:
        show(result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
