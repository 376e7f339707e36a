#!/usr/bin/env python3
"""make-engine-fixtures.py OUTDIR: the archive engine's fixture cases.

Per case OUTDIR/<case>.zip and either <case>.expected/ (the tree that must
come out) or <case>.fail (the message id the extraction ends with, optionally
followed by text the message must contain; "cancelled" for the overwrite
prompt's Cancel). Optional: <case>.answers (lines "ID ANSWER", Y/N/C/O/A/R/I,
used in order), <case>.setup/ (files in the target folder before the run),
<case>.unzip (unzip's extraction is the reference, file times included).

Archives from the real tools (zip, 7z, Python's zipfile), expected trees from
unzip where unzip reads the archive the same way; everything the tools will
not write (hostile names, truncations, lying sizes, descriptors without
signature) from the small writer below.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

OUT = None
# Entries of the writer: 15 June 2024, 13:45:30 (local time).
DOS_DATE = (44 << 9) | (6 << 5) | 15
DOS_TIME = (13 << 11) | (45 << 5) | 15
SOURCE_MTIME = 1718459130  # the sources the tools pack: a fixed, even time

# Message ids of the engine.
BAD_CRC = 1041
BAD_HEADER = 1042
CANT_CREATE = 1039
NAME_TOO_LONG = 1062
READ_ERROR = 1047
SIZE_MISMATCH = 1068
UNSUPPORTED = 1040
CANT_CREATE_FOLDER = 1043
# Names that would leave the target folder or that Windows reads as
# something else are refused as files (folders) that cannot be created;
# headers that the stub cannot read front to back as invalid headers.
UNSAFE_NAME = CANT_CREATE
DEFERRED_SIZES = BAD_HEADER
ZIP64_TOO_LARGE = BAD_HEADER


def data_of(size, seed=1, text=False):
    if text:
        words = b"quolla entry folder window stream block setup extract table run copy "
        return (words * (size // len(words) + 1))[:size]
    out = bytearray()
    x = seed
    while len(out) < size:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x >> 16) & 0xFF)
    return bytes(out)


def raw_deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


class Entry:
    def __init__(self, name, data=b"", method=0, flags=0, payload=None, crc=None,
                 csize=None, usize=None, extra=b"", descriptor=None, date=DOS_DATE,
                 time=DOS_TIME, central_extra=False):
        self.name = name if isinstance(name, bytes) else name.encode("ascii")
        self.data = data
        self.method = method
        self.flags = flags
        if payload is None:
            payload = raw_deflate(data) if method == 8 else data
        self.payload = payload
        self.crc = zlib.crc32(data) if crc is None else crc
        self.csize = len(payload) if csize is None else csize
        self.usize = len(data) if usize is None else usize
        self.extra = extra
        self.descriptor = descriptor  # None, "sig" or "nosig"
        self.date, self.time = date, time
        # The extra field in the central directory too (where unzip reads it).
        self.central_extra = central_extra


def local_bytes(e):
    head = struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 20, e.flags, e.method, e.time, e.date,
                       e.crc, e.csize, e.usize, len(e.name), len(e.extra))
    out = head + e.name + e.extra + e.payload
    if e.descriptor == "sig":
        out += struct.pack("<4sIII", b"PK\x07\x08", zlib.crc32(e.data), len(e.payload), len(e.data))
    elif e.descriptor == "nosig":
        out += struct.pack("<III", zlib.crc32(e.data), len(e.payload), len(e.data))
    return out


def archive(entries, prefix=b"", between=None, central=True):
    """The archive's bytes, with a central directory and end record."""
    out = bytearray(prefix)
    offsets = []
    for i, e in enumerate(entries):
        if between and i in between:
            out += between[i]
        offsets.append(len(out))
        out += local_bytes(e)
    if not central:
        return bytes(out)
    cd = bytearray()
    for e, at in zip(entries, offsets):
        extra = e.extra if e.central_extra else b""
        cd += struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\x01\x02", 20, 20, e.flags, e.method,
                          e.time, e.date, e.crc, e.csize & 0xFFFFFFFF, e.usize & 0xFFFFFFFF,
                          len(e.name), len(extra), 0, 0, 0, 0, at)
        cd += e.name + extra
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(entries), len(entries), len(cd),
                      len(out), 0)
    return bytes(out) + bytes(cd) + end


def write(case, data):
    with open(os.path.join(OUT, case + ".zip"), "wb") as f:
        f.write(data)


def expect(case, files):
    """files: {relative path: bytes, or None for a folder}."""
    root = os.path.join(OUT, case + ".expected")
    os.makedirs(root, exist_ok=True)
    for rel, content in files.items():
        path = os.path.join(root, *rel.split("/"))
        if content is None:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)


def fail(case, text):
    with open(os.path.join(OUT, case + ".fail"), "w") as f:
        f.write(str(text) + "\n")


def answers(case, lines):
    with open(os.path.join(OUT, case + ".answers"), "w") as f:
        f.write("".join(line + "\n" for line in lines))


def setup_tree(case, files):
    root = os.path.join(OUT, case + ".setup")
    for rel, content in files.items():
        path = os.path.join(root, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)


def case(name, entries, outcome, **kw):
    """outcome: a dict (expected tree) or an int/str (.fail), or a tuple of both."""
    write(name, archive(entries, **kw))
    if isinstance(outcome, tuple):
        fail(name, outcome[0])
        expect(name, outcome[1])
    elif isinstance(outcome, dict):
        expect(name, outcome)
    else:
        fail(name, outcome)


# --- the real tools ----------------------------------------------------------

def source_tree(root, files):
    for rel, content in files.items():
        path = os.path.join(root, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    for base, dirs, names in os.walk(root):
        for n in names + dirs:
            os.utime(os.path.join(base, n), (SOURCE_MTIME, SOURCE_MTIME))
    os.utime(root, (SOURCE_MTIME, SOURCE_MTIME))


def run(args, cwd, **kw):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, **kw)


def expect_from_unzip(name):
    """The tree unzip extracts from the case's archive is the expected one."""
    target = os.path.join(OUT, name + ".expected")
    os.makedirs(target, exist_ok=True)
    # A UTF-8 locale: unzip then writes the names of Unicode path fields as
    # they are, and escapes nothing.
    run(["unzip", "-qq", "-o", os.path.join(OUT, name + ".zip"), "-d", target], OUT,
        env=dict(os.environ, LC_ALL="C.UTF-8"))
    open(os.path.join(OUT, name + ".unzip"), "w").close()


TOOL_FILES = {
    "empty.bin": b"",
    "w7000.bin": data_of(0x7000, 3),
    "w7001.bin": data_of(0x7001, 4),
    "text.txt": data_of(100000, text=True),
    "text2.txt": data_of(54321, text=True)[::-1],
    "dir/sub/inner.txt": b"inner file\r\n",
}


def tool_cases(work):
    src = os.path.join(work, "src")
    source_tree(src, TOOL_FILES)
    names = sorted(TOOL_FILES)
    out = lambda n: os.path.join(OUT, n + ".zip")
    # -X: no extra time fields, so that unzip sets the DOS time as we do.
    run(["zip", "-q", "-X", "-0", "-r", out("zip-stored"), "."], src)
    run(["zip", "-q", "-X", "-9", "-r", out("zip-deflated"), "."], src)
    run(["zip", "-q", "-X", "-fz", "-r", out("zip-zip64"), "."], src)
    for n in ("zip-stored", "zip-deflated", "zip-zip64"):
        expect_from_unzip(n)
    # Written to a pipe, zip defers the sizes to descriptors: a compressed
    # size of 0 in the local header (the helper library fills in the real
    # one). Nothing can be decoded from it, and the size check refuses it.
    piped = subprocess.run(["zip", "-q", "-X", "-fz-", "-", "text.txt"], cwd=src, check=True,
                           stdout=subprocess.PIPE).stdout
    with open(out("zip-streamed"), "wb") as f:
        f.write(piped)
    fail("zip-streamed", SIZE_MISMATCH)
    # 7z: Deflate64 and Deflate, two entries each at least; no NTFS times.
    for n, method in (("7z-deflate64", "Deflate64"), ("7z-deflate", "Deflate")):
        run(["7z", "a", "-bd", "-tzip", "-mm=" + method, "-mtc=off", out(n)] + names, src)
        expect_from_unzip(n)
    # zipfile: UTF-8 names (bit 11).
    utf8 = {"Grüße/naïve €.txt": b"utf-8 name\n", "日本/ファイル.txt": b"cjk\n"}
    with zipfile.ZipFile(out("pyzip-utf8"), "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in utf8.items():
            info = zipfile.ZipInfo(n, (2024, 6, 15, 13, 45, 30))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    expect("pyzip-utf8", utf8)
    # zipfile: a Unicode path field for a plain stored name, with the CRC of
    # that name (used) and with another CRC (ignored).
    for n, good in (("pyzip-unicode-path", True), ("pyzip-unicode-path-bad-crc", False)):
        stored = "plain-name.txt"
        uni = "ünïcode-name.txt".encode("utf-8")
        crc = zlib.crc32(stored.encode()) ^ (0 if good else 1)
        with zipfile.ZipFile(out(n), "w") as z:
            info = zipfile.ZipInfo(stored, (2024, 6, 15, 13, 45, 30))
            info.extra = struct.pack("<HHBI", 0x7075, 5 + len(uni), 1, crc) + uni
            z.writestr(info, b"unicode path\n")
        expect(n, {("ünïcode-name.txt" if good else stored): b"unicode path\n"})


# --- the writer's cases -------------------------------------------------------

def writer_cases():
    a, b = data_of(5000, 7), data_of(0x7001, 8)
    case("stored-sizes", [Entry("zero.bin"), Entry("w7000.bin", data_of(0x7000, 9)),
                          Entry("w7001.bin", b)],
         {"zero.bin": b"", "w7000.bin": data_of(0x7000, 9), "w7001.bin": b})
    t1, t2 = data_of(70000, text=True), data_of(3000, 11)
    case("deflate-two", [Entry("one.txt", t1, 8), Entry("two.bin", t2, 8)],
         {"one.txt": t1, "two.bin": t2})
    case("folders", [Entry("a/"), Entry("a/b/"), Entry("a/b/c.txt", b"c")],
         {"a": None, "a/b": None, "a/b/c.txt": b"c"})
    # An empty entry passes with CRC 0 and fails with any other.
    case("empty-bad-crc", [Entry("e.txt", crc=1)], BAD_CRC)

    # Data descriptors behind real sizes: 16 bytes with the signature, 12
    # without; the next entry must be found either way.
    for kind in ("sig", "nosig"):
        case("descriptor-" + kind,
             [Entry("d1.txt", a, 8, flags=8, descriptor=kind), Entry("d2.txt", b"next")],
             {"d1.txt": a, "d2.txt": b"next"})
    # Deferred sizes with zeros in the local header.
    case("descriptor-zero-sizes",
         [Entry("z.txt", a, 8, flags=8, crc=0, csize=0, usize=0, payload=raw_deflate(a),
                descriptor="sig")], DEFERRED_SIZES)

    # Truncations, with the place code of the read that ran short.
    full = archive([Entry("first.txt", a), Entry("second.txt", b"second entry data")],
                   central=False)
    second = len(local_bytes(Entry("first.txt", a)))
    name_at = second + 30
    cuts = {
        "truncated-signature": (second + 2, "<9>"),
        "truncated-header": (second + 4 + 10, "<4>"),
        "truncated-name": (name_at + 3, "<1>"),
        "truncated-data": (name_at + len(b"second.txt") + 5, "<2>"),
    }
    for n, (at, place) in cuts.items():
        write(n, full[:at])
        fail(n, "%d %s" % (READ_ERROR, place))
        expect(n, {"first.txt": a})
    ex = Entry("x.txt", a, extra=struct.pack("<HH", 0xCAFE, 8) + b"12345678")
    raw = archive([ex], central=False)
    write("truncated-extra", raw[:30 + 5 + 6])
    fail("truncated-extra", "%d <1>" % READ_ERROR)
    d = Entry("inflate.txt", t1, 8)
    raw = archive([d], central=False)
    write("truncated-deflate", raw[:30 + len(d.name) + len(d.payload) // 2])
    fail("truncated-deflate", "%d <2>" % READ_ERROR)
    # No record after the last entry: the signature read runs short.
    write("no-central-directory", archive([Entry("only.txt", b"only")], central=False))
    fail("no-central-directory", "%d <9>" % READ_ERROR)
    expect("no-central-directory", {"only.txt": b"only"})

    # Names at the length limit: 3120 bytes pass the walk (and are too long for
    # any folder), 3121 do not.
    case("name-3120", [Entry("n" * 3120, b"x")], CANT_CREATE)
    case("name-3121", [Entry("n" * 3121, b"x")], NAME_TOO_LONG)

    # Names in the OEM code page (437), in ANSI (1252) and in UTF-8 (bit 11).
    case("oem-name", [Entry(b"Gr\x81\xe1e.txt", b"oem")], {"Grüße.txt": b"oem"})
    case("ansi-name", [Entry(b"caf\xe9.txt", b"ansi")], {"café.txt": b"ansi"})
    case("euro-name", [Entry(b"x\x80.txt", b"euro")], {"x€.txt": b"euro"})
    case("utf8-flag-over-oem", [Entry("Grüße.txt".encode(), b"utf8", flags=0x800)],
         {"Grüße.txt": b"utf8"})
    infozip_unicode_cases()

    hostile_cases()
    record_cases()
    prompt_cases()


def infozip_oem_name(name):
    """A name as Info-ZIP's zip for Windows stores it: in the OEM code page
    (437 here), each character that the code page lacks as #Uxxxx."""
    return b"".join(c.encode("cp437") if c.encode("cp437", "ignore") else
                    ("#U%04x" % ord(c)).encode() for c in name)


def infozip_unicode_cases():
    # Info-ZIP's zip for Windows writes each name beside its OEM form in a
    # Unicode path field (0x7075) whose CRC is that of the stored bytes, in the
    # local and the central header. The field names the file, also where the
    # stored name alone would have been converted from OEM to ANSI.
    files = {"ñandú €.txt": b"one\n", "Grüße/Straße.txt": b"two\n", "naïve.txt": b"three\n"}
    entries = []
    for name, data in files.items():
        stored, uni = infozip_oem_name(name), name.encode("utf-8")
        extra = struct.pack("<HHBI", 0x7075, 5 + len(uni), 1, zlib.crc32(stored)) + uni
        entries.append(Entry(stored, data, extra=extra, central_extra=True))
    write("infozip-unicode-path", archive(entries))
    expect_from_unzip("infozip-unicode-path")


def hostile_cases():
    x = b"hostile\n"
    # Leaving the target folder: refused outright.
    for n, name in (("traversal-back", "..\\..\\qlhostile-back.txt"),
                    ("traversal-forward", "../qlhostile-forward.txt"),
                    ("traversal-inner", "d/../../qlhostile-inner.txt"),
                    ("traversal-folder", "../qlhostile-dir/")):
        folder = name.endswith("/")
        case(n, [Entry(name, b"" if folder else x)], CANT_CREATE_FOLDER if folder else UNSAFE_NAME)
    # Names Windows reads as something else, or from the root.
    invalid = {
        "absolute-backslash": "\\qlhostile-abs.txt",
        "absolute-slash": "/qlhostile-abs2.txt",
        "drive": "C:qlhostile-drive.txt",
        "unc": "\\\\qlserver\\share\\qlhostile-unc.txt",
        "device-con": "con.tar.gz",
        "device-aux": "aux",
        "device-inner": "d/nul.txt",
        "stream": "a:qlhostile-stream",
        "reserved-lt": "a<b.txt",
        "reserved-pipe": "a|b.txt",
        "reserved-quote": "a\"b.txt",
        "reserved-question": "a?b.txt",
        "reserved-star": "a*b.txt",
    }
    for n, name in invalid.items():
        case("invalid-" + n, [Entry("before.txt", b"before"), Entry(name, x)],
             (UNSAFE_NAME, {"before.txt": b"before"}))
    # A path too long for Windows.
    case("long-path", [Entry("d/" * 40 + "f" * 200 + ".txt", x)], CANT_CREATE)
    # Output beyond the recorded size: stopped, nothing left.
    big = data_of(100000, text=True)
    case("lying-size-stored", [Entry("lie.bin", data_of(5000, 5), usize=100)], SIZE_MISMATCH)
    case("lying-size-deflate", [Entry("lie.txt", big, 8, usize=1000)], SIZE_MISMATCH)
    case("short-size-deflate", [Entry("short.txt", big, 8, usize=200000)], SIZE_MISMATCH)
    # Damaged data shows in the size or CRC check, and leaves no file.
    case("bad-crc", [Entry("ok.txt", b"fine"), Entry("crc.txt", b"data", crc=0x1234)],
         (BAD_CRC, {"ok.txt": b"fine"}))
    # The end record first: nothing to extract, no error.
    write("empty-archive", struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 0, 0, 0, 0, 0))
    expect("empty-archive", {})
    # A folder entry with data: its data skipped, the next entry found.
    case("folder-with-data", [Entry("d/", b"12345"), Entry("next.txt", b"next")],
         {"d": None, "next.txt": b"next"})
    # Method 99 without an AES record, and an unknown method: no file made.
    case("method-99-no-record", [Entry("m.txt", b"m", method=99)], UNSUPPORTED)
    case("method-12", [Entry("m.txt", b"m", method=12)], UNSUPPORTED)
    # Zip64 sizes of 4 GiB and more are refused, never cut to 32 bits.
    z64 = struct.pack("<HHQQ", 1, 16, 1 << 32, 5)
    case("zip64-huge", [Entry("big.bin", b"12345", csize=0xFFFFFFFF, usize=0xFFFFFFFF, extra=z64)],
         ZIP64_TOO_LARGE)
    z64 = struct.pack("<HHQQ", 1, 16, 5, 5)
    case("zip64-small", [Entry("small.bin", b"12345", csize=0xFFFFFFFF, usize=0xFFFFFFFF,
                               extra=z64)], {"small.bin": b"12345"})
    # A Unicode path longer than any output name.
    long_name = ("u" * 4000).encode()
    stored = b"short.txt"
    up = struct.pack("<HHBI", 0x7075, 5 + len(long_name), 1, zlib.crc32(stored)) + long_name
    # The field is dropped: the stored name stands.
    case("unicode-path-too-long", [Entry(stored, b"s", extra=up)], {"short.txt": b"s"})
    # Records between entries: PK00 is stepped over, anything else refused.
    case("marker-pk00", [Entry("m.txt", b"marker")], {"m.txt": b"marker"}, prefix=b"PK00")
    case("junk-between", [Entry("one.txt", b"1"), Entry("two.txt", b"2")],
         (BAD_HEADER, {"one.txt": b"1"}), between={1: b"JUNK"})
    case("spanning-marker-single", [Entry("s.txt", b"s")], BAD_HEADER, prefix=b"PK\x07\x08")


def record_cases():
    # Out-of-range time fields are clamped, never refused.
    case("time-clamped", [Entry("t.txt", b"t", date=(44 << 9) | (13 << 5) | 0,
                                time=(24 << 11) | (60 << 5) | 30)], {"t.txt": b"t"})
    case("time-1980", [Entry("t.txt", b"t", date=(0 << 9) | (1 << 5) | 1, time=0)],
         {"t.txt": b"t"})
    case("time-2107", [Entry("t.txt", b"t", date=(127 << 9) | (12 << 5) | 31,
                             time=(23 << 11) | (59 << 5) | 29)], {"t.txt": b"t"})


def prompt_cases():
    one, two = b"first copy\n", b"second copy\n"
    dup = [Entry("dup.txt", one), Entry("dup.txt", two), Entry("after.txt", b"after")]
    case("overwrite-no", dup, {"dup.txt": one, "after.txt": b"after"})
    answers("overwrite-no", ["1026 N"])
    case("overwrite-yes", dup, {"dup.txt": two, "after.txt": b"after"})
    answers("overwrite-yes", ["1026 Y"])
    case("overwrite-cancel", dup, ("cancelled", {"dup.txt": one}))
    answers("overwrite-cancel", ["1026 C"])
    case("overwrite-existing", [Entry("keep.txt", b"from archive")], {"keep.txt": b"mine"})
    setup_tree("overwrite-existing", {"keep.txt": b"mine"})
    answers("overwrite-existing", ["1026 N"])


def main():
    global OUT
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    OUT = os.path.abspath(sys.argv[1])
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        tool_cases(work)
    writer_cases()


if __name__ == "__main__":
    main()
