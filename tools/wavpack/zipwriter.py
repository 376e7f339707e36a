"""A small Zip writer for fixtures: entries of any method, written from their
raw (already compressed) data, and a reader that takes the entries of an
archive another tool made, so that cases can patch or cut them."""
import os
import shutil
import struct
import subprocess
import tempfile
import zlib
from dataclasses import dataclass

DOS_TIME = (10 << 11) | (30 << 5)          # 10:30:00
DOS_DATE = ((2026 - 1980) << 9) | (12 << 5) | 10


@dataclass
class Entry:
    name: str              # written in CP437; bytes are written as they stand
    method: int
    data: bytes            # the entry's data as stored
    crc: int               # of the uncompressed bytes
    size: int              # uncompressed size
    flags: int = 0

    @staticmethod
    def of(name, method, data, plain, flags=0):
        return Entry(name, method, data, zlib.crc32(plain), len(plain), flags)


def read_entries(path):
    """The entries of `path` in order, from their local headers."""
    blob = open(path, 'rb').read()
    entries, pos = [], 0
    while blob[pos:pos + 4] == b'PK\x03\x04':
        (_, _, flags, method, _, _, crc, csize, usize, nlen,
         elen) = struct.unpack_from('<IHHHHHIIIHH', blob, pos)
        name = blob[pos + 30:pos + 30 + nlen].decode('cp437')
        start = pos + 30 + nlen + elen
        entries.append(Entry(name, method, blob[start:start + csize], crc, usize, flags))
        pos = start + csize
    return entries


def write_zip(path, entries):
    out, central = bytearray(), bytearray()
    for e in entries:
        name = e.name if isinstance(e.name, bytes) else e.name.encode('cp437')
        offset = len(out)
        fields = (20, e.flags, e.method, DOS_TIME, DOS_DATE, e.crc & 0xFFFFFFFF,
                  len(e.data), e.size & 0xFFFFFFFF, len(name))
        out += struct.pack('<IHHHHHIIIHH', 0x04034B50, *fields, 0) + name + e.data
        central += struct.pack('<IH', 0x02014B50, 20) + struct.pack('<HHHHHIIIH', *fields)
        central += struct.pack('<HHHHII', 0, 0, 0, 0, 0x20, offset) + name
    out += central + struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(entries), len(entries),
                                 len(central), len(out), 0)
    with open(path, 'wb') as f:
        f.write(out)


def write_case(outdir, case, entries, plain=None, fail=None):
    """OUTDIR/<case>.zip with either the expected tree (`plain`: name -> bytes)
    or the message id the extraction must end with."""
    import os
    write_zip(os.path.join(outdir, case + '.zip'), entries)
    if fail is not None:
        with open(os.path.join(outdir, case + '.fail'), 'w') as f:
            f.write('%d\n' % fail)
        return
    tree = os.path.join(outdir, case + '.expected')
    os.makedirs(tree, exist_ok=True)
    for name, data in plain.items():
        with open(os.path.join(tree, name), 'wb') as f:
            f.write(data)


def seven_zip(files, options, method=None):
    """The entries 7z writes for `files` (name -> bytes) with its `options`
    (a list of switches); with `method`, every entry must have come out with
    that method number."""
    work = tempfile.mkdtemp()
    try:
        for name, data in files.items():
            with open(os.path.join(work, name), 'wb') as f:
                f.write(data)
        subprocess.run(['7z', 'a', '-tzip'] + options + ['out.zip'] + list(files),
                       cwd=work, check=True, stdout=subprocess.DEVNULL)
        entries = read_entries(os.path.join(work, 'out.zip'))
        for e in entries:
            if method is not None and e.method != method:
                raise SystemExit('7z stored %s with method %d' % (e.name, e.method))
        return entries
    finally:
        shutil.rmtree(work)
