#!/usr/bin/env python3
"""make-jpeg-fixtures.py OUTDIR: Zip archives with JPEG-method entries
(method 96) made by the native test encoder (jpegzip, from the native build
tree in QL_NATIVE_BUILD) from JPEG files that cjpeg writes, each with the
file that must come out of it byte for byte, or the message the extraction
must end with."""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'wavpack'))
from zipwriter import read_entries, write_case  # noqa: E402

INVALID_DATA = 1107  # "Error: Invalid compressed data to %s"


def picture(path, width, height, seed):
    """A PPM with gradients, edges and noise."""
    rnd = random.Random(seed)
    rows = bytearray()
    for y in range(height):
        for x in range(width):
            n = rnd.randrange(32)
            r = (x * 255 // max(width - 1, 1)) ^ (0x40 if (y // 7) & 1 else 0)
            g = ((x + y) % 37) * 6 + n
            b = 200 + n if (x // 5 + y // 3) % 2 else 30
            rows += bytes((r & 255, g & 255, b & 255))
    with open(path, 'wb') as f:
        f.write(b'P6\n%d %d\n255\n' % (width, height) + bytes(rows))


# (case, cjpeg options, width, height, jpegzip options, bytes after EOI)
CASES = [
    ('jpeg-420', ['-quality', '75', '-sample', '2x2'], 67, 45, [], b''),
    ('jpeg-444', ['-quality', '90', '-sample', '1x1'], 40, 24, ['--store'], b''),
    ('jpeg-grey', ['-grayscale'], 33, 17, [], b''),
    ('jpeg-odd-422', ['-sample', '2x1', '-quality', '50'], 91, 13, [], b''),
    ('jpeg-restart', ['-restart', '3b'], 70, 50, ['--band', '1'], b''),
    ('jpeg-optimised', ['-optimize', '-quality', '95'], 50, 40, [], b''),
    ('jpeg-multiscan', ['-optimize', '-sample', '2x2', '-scans', '@split'], 45, 37, [], b''),
    ('jpeg-quant16', ['-quality', '2'], 64, 64, [], b''),
    ('jpeg-trailing', [], 20, 20, [], bytes(range(256)) * 2),
    ('jpeg-large', ['-quality', '85', '-sample', '1x1'], 640, 480, ['--band', '2'], b''),
]


def main():
    outdir = sys.argv[1]
    native = os.environ.get('QL_NATIVE_BUILD', os.path.join(os.path.dirname(__file__), '../../build/native'))
    jpegzip = os.path.join(native, 'tools', 'jpeg', 'jpegzip')
    os.makedirs(outdir, exist_ok=True)
    work = tempfile.mkdtemp()
    try:
        split = os.path.join(work, 'split.txt')
        with open(split, 'w') as f:
            f.write('0;\n1 2;\n')
        for seed, (case, options, width, height, packing, trailing) in enumerate(CASES):
            ppm = os.path.join(work, case + '.ppm')
            jpg = os.path.join(work, case + '.jpg')
            picture(ppm, width, height, seed)
            options = [split if o == '@split' else o for o in options]
            subprocess.run(['cjpeg'] + options + ['-outfile', jpg, ppm], check=True,
                           stderr=subprocess.DEVNULL)
            with open(jpg, 'ab') as f:
                f.write(trailing)
            subprocess.run([jpegzip] + packing + [jpg, os.path.join(outdir, case + '.zip'), case + '.jpg'],
                           check=True)
            expected = os.path.join(outdir, case + '.expected')
            shutil.rmtree(expected, ignore_errors=True)
            os.makedirs(expected)
            shutil.copy(jpg, os.path.join(expected, case + '.jpg'))

        # Not this method's input: the decoder refuses a progressive file.
        ppm = os.path.join(work, 'p.ppm')
        jpg = os.path.join(work, 'p.jpg')
        picture(ppm, 30, 20, 99)
        subprocess.run(['cjpeg', '-progressive', '-outfile', jpg, ppm], check=True)
        if subprocess.run([jpegzip, jpg, os.path.join(outdir, 'jpeg-progressive.zip'),
                           'progressive.jpg'], stderr=subprocess.DEVNULL).returncode != 3:
            raise SystemExit('jpegzip took a progressive file')
        with open(os.path.join(outdir, 'jpeg-progressive.fail'), 'w') as f:
            f.write('%d\n' % INVALID_DATA)

        # A 16 x 16 greyscale file whose frame header claims 30000 x 30000:
        # its band (1.7 GiB, below the 2 GiB cap) cannot come out of an entry
        # of this recorded size, and is refused before it is asked for.
        ppm = os.path.join(work, 'h.ppm')
        jpg = os.path.join(work, 'h.jpg')
        picture(ppm, 16, 16, 98)
        subprocess.run(['cjpeg', '-grayscale', '-outfile', jpg, ppm], check=True)
        hostile = os.path.join(work, 'h.zip')
        subprocess.run([jpegzip, '--store', jpg, hostile, 'hostile.jpg'], check=True)
        entry = read_entries(hostile)[0]
        sof = open(jpg, 'rb').read().index(b'\xff\xc0')
        data = bytearray(entry.data)
        data[8 + sof + 5:8 + sof + 9] = struct.pack('>HH', 30000, 30000)
        entry.data = bytes(data)
        write_case(outdir, 'jpeg-frame-beyond-recorded-size', [entry], fail=INVALID_DATA)
    finally:
        shutil.rmtree(work)


if __name__ == '__main__':
    main()
