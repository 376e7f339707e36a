#!/usr/bin/env python3
"""make-lzma-fixtures.py OUTDIR: Zip archives with LZMA entries (method 14)
from 7-Zip and from Python's zipfile, and damaged ones, each with the tree
that must come out of it or the message the extraction must end with."""
import io
import os
import random
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'wavpack'))
import zipwriter  # noqa: E402
from zipwriter import read_entries, write_case  # noqa: E402

INVALID_DATA = 1107      # "Invalid compressed data to expand (LZMA decode) the file"
UNKNOWN_HEADER = 1112    # "Data header not recognized ..."
MIB = 1 << 20


def text(size, seed):
    rnd = random.Random(seed)
    words = ('the stub extracts every entry of the archive and checks its crc '
             'before it sets the time of the file it wrote').split()
    out, total = [], 0
    while total < size:
        out.append(' '.join(rnd.choice(words) for _ in range(rnd.randint(4, 14))) + '.\n')
        total += len(out[-1])
    return ''.join(out).encode()[:size]


def mixed(size, seed):
    """Runs of noise and repeats: matches at every distance."""
    rnd = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        if out and rnd.random() < 0.5:
            start = rnd.randrange(len(out))
            out += out[start:start + rnd.randint(3, 300)]
        else:
            out += rnd.randbytes(rnd.randint(1, 64))
    return bytes(out[:size])


def seven_zip(files, option):
    """The entries 7z makes of `files` (name -> bytes) with method option `option`."""
    return zipwriter.seven_zip(files, [option, '-mx=5'])


def python_zip(files):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w', zipfile.ZIP_LZMA) as z:
        for name, data in files.items():
            z.writestr(name, data)
    path = tempfile.mktemp(suffix='.zip')
    try:
        with open(path, 'wb') as f:
            f.write(buf.getvalue())
        return read_entries(path)
    finally:
        os.unlink(path)


def patched(entry, at, value):
    data = bytearray(entry.data)
    data[at:at + len(value)] = value
    entry.data = bytes(data)
    return entry


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    pair = {'readme.txt': text(150000, 1), 'mixed.bin': mixed(120000, 2)}
    for case, option in (('lzma-7z', '-mm=LZMA:eos=off'), ('lzma-7z-eos', '-mm=LZMA:eos')):
        entries = seven_zip(pair, option)
        assert all(e.method == 14 for e in entries)
        assert all(bool(e.flags & 2) == (option == '-mm=LZMA:eos') for e in entries)
        write_case(outdir, case, entries, plain=pair)
    write_case(outdir, 'lzma-python', python_zip(pair), plain=pair)

    # Outputs of exactly one and two decode buffers: no empty handover at the end.
    whole = {'one.bin': mixed(MIB, 3), 'two.txt': text(2 * MIB, 4)}
    write_case(outdir, 'lzma-buffer-multiples', seven_zip(whole, '-mm=LZMA:eos=off'), plain=whole)

    small = {'small.txt': text(5000, 5)}
    # A header that names a 4 GiB dictionary for a 5000-byte file, with and
    # without the end marker: the dictionary is cut to the recorded size.
    for case, option in (('lzma-huge-dictionary', '-mm=LZMA:eos=off'),
                         ('lzma-huge-dictionary-eos', '-mm=LZMA:eos')):
        entry = patched(seven_zip(small, option)[0], 5, b'\xff\xff\xff\xff')
        write_case(outdir, case, [entry], plain=small)
    for size in (4, 6):
        entry = patched(seven_zip(small, '-mm=LZMA')[0], 2, bytes([size, 0]))
        write_case(outdir, 'lzma-props-size-%d' % size, [entry], fail=UNKNOWN_HEADER)
    # Cut in the middle of the stream; the recorded compressed size says so too.
    for case, option in (('lzma-truncated', '-mm=LZMA:eos=off'), ('lzma-truncated-eos', '-mm=LZMA:eos')):
        entry = seven_zip({'readme.txt': pair['readme.txt']}, option)[0]
        entry.data = entry.data[:len(entry.data) // 2]
        write_case(outdir, case, [entry], fail=INVALID_DATA)
    entry = seven_zip(small, '-mm=LZMA')[0]
    entry.data = entry.data[:3]
    write_case(outdir, 'lzma-short-header', [entry], fail=INVALID_DATA)


if __name__ == '__main__':
    if len(sys.argv) != 2:
        sys.exit('usage: make-lzma-fixtures.py OUTDIR')
    main(sys.argv[1])
