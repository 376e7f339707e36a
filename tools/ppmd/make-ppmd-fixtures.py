#!/usr/bin/env python3
"""make-ppmd-fixtures.py OUTDIR: Zip archives with PPMd entries (method 98)
from 7-Zip over several orders, model sizes and levels, and patched or cut
ones, each with the tree that must come out of it or the message the
extraction must end with."""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'wavpack'))
import zipwriter  # noqa: E402
from zipwriter import write_case  # noqa: E402

PPMD_ERROR = 1065        # "PPMd compression decode error %d detected; ..."
MIB = 1 << 20


def text(size, seed):
    """Varied text: words, numbers and punctuation from a wide vocabulary, so
    that a small model fills up."""
    rnd = random.Random(seed)
    syllables = ['ka', 'lo', 'mi', 'ne', 'tur', 'ble', 'xo', 'quo', 'lla', 'sfx', 'zip',
                 'str', 'ent', 'ry', 'ex', 'tra', 'ct', 'or', 'pa', 'th', 'ing', 'ed']
    words = [''.join(rnd.choice(syllables) for _ in range(rnd.randint(1, 4))) for _ in range(3000)]
    out, total = [], 0
    while total < size:
        line = ' '.join(rnd.choice(words) for _ in range(rnd.randint(3, 12)))
        if rnd.random() < 0.3:
            line += ' %d/%x' % (rnd.randrange(1 << 20), rnd.randrange(1 << 32))
        out.append(line.capitalize() + rnd.choice('.;!?:,') + '\n')
        total += len(out[-1])
    return ''.join(out).encode()[:size]


def binary(size, seed):
    """Records of small integers and noise, as in tables and executables."""
    rnd = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        kind = rnd.random()
        if kind < 0.4:
            out += struct.pack('<IHH', rnd.randrange(4096), rnd.randrange(16), 0)
        elif kind < 0.7:
            out += bytes([rnd.randrange(256)]) * rnd.randint(1, 40)
        else:
            out += rnd.randbytes(rnd.randint(1, 24))
    return bytes(out[:size])


def seven_zip(files, options):
    """The entries 7z makes of `files` (name -> bytes), PPMd with `options`."""
    return zipwriter.seven_zip(files, ['-mm=PPMd'] + options, method=98)


def with_word(entry, word):
    """The entry with its parameter word replaced."""
    entry.data = struct.pack('<H', word) + entry.data[2:]
    return entry


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)

    def good(case, files, options):
        write_case(outdir, case, seven_zip(files, options), plain=files)

    small = {'small.txt': text(40000, 1)}
    # Orders, model sizes and levels (the levels choose the restoration
    # method: restart below -mx=7, cut-off from there on).
    for order in (2, 6, 16):
        good('order%d' % order, {'o%d.txt' % order: text(300000, 10 + order)}, ['-mo=%d' % order])
    for mem in (1, 3, 40):
        good('mem%dm' % mem, {'m%d.bin' % mem: binary(300000, 20 + mem)}, ['-mmem=%dm' % mem])
    for level in (1, 5, 9):
        good('mx%d' % level, {'x%d.txt' % level: text(200000, 30 + level)}, ['-mx=%d' % level])
    # A 1 MiB model over several MiB of varied text: memory full many times.
    good('full-restart', {'restart.txt': text(3 * MIB, 40)}, ['-mx=5', '-mmem=1m', '-mo=8'])
    good('full-cutoff', {'cutoff.txt': text(3 * MIB, 41)}, ['-mx=9', '-mmem=1m', '-mo=16'])
    # Outputs of exactly one and two decode buffers.
    good('exact-1mib', {'one.bin': binary(MIB, 50)}, [])
    good('exact-2mib', {'two.bin': text(2 * MIB, 51)}, [])
    # Two entries in a row: each starts from a fresh model.
    good('two-entries', {'first.txt': text(150000, 60), 'second.bin': binary(150000, 61)}, ['-mo=10'])

    # A stream whose model never fills comes out the same whatever the size
    # and the restoration method say.
    base = seven_zip(small, ['-mo=6'])[0]
    word = struct.unpack('<H', base.data[:2])[0]
    order_bits = word & 0x000F
    for case, patched in (('freeze', (2 << 12) | (word & 0x0FFF)),
                          ('mem256m', (word & 0xF00F) | (0xFF << 4))):
        write_case(outdir, case, [with_word(seven_zip(small, ['-mo=6'])[0], patched)], plain=small)
    # Refused parameter words: order 1, restoration methods 3 and 15.
    for case, patched in (('order1', word & 0xFFF0),
                          ('restoration3', (3 << 12) | (word & 0x0FFF)),
                          ('restoration15', 0xF000 | (word & 0x0FFF))):
        write_case(outdir, case, [with_word(seven_zip(small, ['-mo=6'])[0], patched)], fail=PPMD_ERROR)
    assert order_bits == 5

    # Cut streams: the recorded sizes stay, the data end early.
    for case, keep in (('truncated-half', 0.5), ('truncated-tail', None)):
        entry = seven_zip({'cut.txt': text(200000, 70)}, [])[0]
        entry.data = entry.data[:int(len(entry.data) * keep)] if keep else entry.data[:-5]
        write_case(outdir, case, [entry], fail=PPMD_ERROR)
    # A recorded size smaller than the stream's output.
    entry = seven_zip({'long.txt': text(100000, 71)}, [])[0]
    entry.size -= 1000
    write_case(outdir, 'size-short', [entry], fail=PPMD_ERROR)
    # A good entry, then a cut one: the first stays, the second fails.
    first, second = seven_zip({'kept.txt': text(50000, 72), 'lost.txt': text(50000, 73)}, [])
    second.data = second.data[:len(second.data) // 3]
    write_case(outdir, 'good-then-truncated', [first, second], fail=PPMD_ERROR)


if __name__ == '__main__':
    main()
