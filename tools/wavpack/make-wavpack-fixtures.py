#!/usr/bin/env python3
"""make-wavpack-fixtures.py OUTDIR: Zip archives with WavPack entries
(method 97): WAV files from Python's wave module compressed with the wavpack
command and wrapped as entries whose size and CRC are the WAV file's; and
streams the stub must refuse, each with the message its extraction ends with."""
import io
import math
import os
import random
import struct
import subprocess
import sys
import tempfile
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zipwriter import Entry, write_case  # noqa: E402

WAVPACK = 97
INVALID_DATA = 1107   # "Invalid compressed data to expand (WAVPACK uncompress) the file"
MIB = 1 << 20


def samples(count, width, channels, seed):
    """A tone with noise, as the frames of `width`-byte samples."""
    rnd = random.Random(seed)
    top = (1 << (8 * width - 1)) - 1
    out = bytearray()
    for i in range(count):
        for c in range(channels):
            v = int(top * 0.6 * math.sin(i * (0.01 + 0.003 * c))) + rnd.randint(-top // 50, top // 50)
            if width == 1:
                out.append(v + 128)
            else:
                out += v.to_bytes(width, 'little', signed=True)
    return bytes(out)


def wav(width, channels, frames, seed, extra=b''):
    buf = io.BytesIO()
    with wave.open(buf, 'wb') as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(22050)
        w.writeframes(samples(frames, width, channels, seed))
    data = buf.getvalue()
    if extra:
        # RIFF chunks are padded to even lengths; chunks after the data follow.
        # (The wave module itself writes no pad byte after odd data.)
        data += b'\0' * (len(data) % 2) + extra
        data = data[:4] + struct.pack('<I', len(data) - 8) + data[8:]
    return data


def chunk(tag, body):
    return tag + struct.pack('<I', len(body)) + body + b'\0' * (len(body) % 2)


def wavpack(data, *options):
    work = tempfile.mkdtemp()
    try:
        src, dst = os.path.join(work, 'in.wav'), os.path.join(work, 'out.wv')
        with open(src, 'wb') as f:
            f.write(data)
        subprocess.run(['wavpack', '-q', '-y', *options, src, '-o', dst], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return open(dst, 'rb').read()
    finally:
        subprocess.run(['rm', '-rf', work])


def entries(files, *options):
    return [Entry.of(name, WAVPACK, wavpack(data, *options), data) for name, data in files.items()]


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    widths = {'pcm8.wav': wav(1, 2, 9000, 1), 'pcm16.wav': wav(2, 2, 9000, 2),
              'pcm24.wav': wav(3, 1, 9000, 3), 'pcm32.wav': wav(4, 2, 5000, 4)}
    write_case(outdir, 'wv-widths', entries(widths), plain=widths)

    info = chunk(b'LIST', b'INFOICMT' + struct.pack('<I', 9) + b'fixture\0\0')
    extra = {'odd-mono8.wav': wav(1, 1, 7777, 5, extra=info),
             'odd-bare8.wav': wav(1, 1, 7777, 5),
             'tail16.wav': wav(2, 1, 4000, 6, extra=chunk(b'junk', b'x' * 33) + info)}
    assert len(extra['odd-mono8.wav']) % 2 == 0 and len(extra['odd-bare8.wav']) % 2 == 1
    write_case(outdir, 'wv-extra-chunks', entries(extra), plain=extra)
    write_case(outdir, 'wv-high-mode', entries(widths, '-hh', '-x3'), plain=widths)
    # Many channels: fewer frames per unpack call, the same bytes.
    channels = {'ch6-24.wav': wav(3, 6, 7000, 12), 'ch40-16.wav': wav(2, 40, 3000, 13)}
    write_case(outdir, 'wv-channels', entries(channels), plain=channels)

    # A WAV file of exactly one decode buffer, and one of two.
    exact = {'one.wav': wav(2, 2, (MIB - 44) // 4, 7), 'two.wav': wav(2, 1, (2 * MIB - 44) // 2, 8)}
    assert [len(v) for v in exact.values()] == [MIB, 2 * MIB]
    write_case(outdir, 'wv-buffer-multiples', entries(exact), plain=exact)

    # Raw streams whose original layout the library does not give back.
    raw16 = samples(3000, 2, 2, 9)
    big = raw16[1::2] and bytes(b for pair in zip(raw16[1::2], raw16[0::2]) for b in pair)
    refused = (('wv-big-endian', big, '--raw-pcm=44100,16s,2,be'),
               ('wv-signed-8bit', samples(3000, 1, 1, 10), '--raw-pcm=44100,8s,1'),
               ('wv-unsigned-16bit', raw16, '--raw-pcm=44100,16u,2'))
    for case, data, option in refused:
        write_case(outdir, case, [Entry.of('refused.raw', WAVPACK, wavpack(data, option), data)],
                   fail=INVALID_DATA)

    whole = widths['pcm16.wav']
    cut = wavpack(whole)
    entry = Entry.of('cut.wav', WAVPACK, cut[:len(cut) * 2 // 3], whole)
    write_case(outdir, 'wv-truncated', [entry], fail=INVALID_DATA)
    noise = bytearray(cut)
    rnd = random.Random(11)
    for _ in range(20):
        noise[rnd.randrange(200, len(noise))] ^= 0x40
    entry = Entry.of('damaged.wav', WAVPACK, bytes(noise), whole)
    write_case(outdir, 'wv-damaged', [entry], fail=INVALID_DATA)


if __name__ == '__main__':
    if len(sys.argv) != 2:
        sys.exit('usage: make-wavpack-fixtures.py OUTDIR')
    main(sys.argv[1])
