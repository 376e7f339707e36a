#!/usr/bin/env python3
"""The user's abort during a large entry, through the real decoders of the full
installation stub: the robot presses Setup and, right behind it, Esc or a click
on Cancel, which the extraction takes as a request to abort; it answers Yes to
"Abort unzip operation?". Deflate data then end without a further box; the
block decoders end with their message for the abort (1023, or 1065 with code
60 for PPMd). The run ends, the entry's file and the temporary folder are gone
and the setup command never ran. The runs and checks are those of stubtest.py;
only the archives differ.

usage: abort_e2e_test.py abort --wine QL_WINE --launcher QLLAUNCH --stubs DIR --tools DIR
                         --native-build DIR --work DIR --fake FAKE
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stubtest  # noqa: E402
from stubtest import CAPTION, DIALOG, Case, install  # noqa: E402

TEXT_ASK_ABORT = "Abort unzip operation?"
TEXT_ABORTED = "Unzip Aborted"
TEXT_PPMD_ABORTED = "PPMd compression decode error 60 detected"
MIB = 1 << 20
VK_ESCAPE = 27


def text(size, seed):
    rnd = random.Random(seed)
    words = b"the stub extracts every entry of the archive and checks its crc before".split()
    out = bytearray()
    while len(out) < size:
        out += b" ".join(rnd.choice(words) for _ in range(rnd.randint(4, 14))) + b".\n"
    return bytes(out[:size])


def wav(frames):
    """16-bit stereo: a slow sweep with a little noise."""
    rnd = random.Random(3)
    samples = bytearray()
    for i in range(frames):
        value = ((i * 37) % 20000) - 10000 + rnd.randint(-50, 50)
        samples += struct.pack("<hh", value, -value)
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(samples), b"WAVE", b"fmt ", 16, 1, 2,
                         44100, 44100 * 4, 4, 16, b"data", len(samples))
    return header + bytes(samples)


def press_setup_then(step):
    """The dialog's rule: Setup, then the abort request behind it in the queue."""
    return ["window", "caption " + DIALOG, "press 1", step,
            "window", "text " + TEXT_ASK_ABORT, "press-text Yes"]


def aborted(message):
    """The block decoder's box for the abort, answered."""
    return ["window", "text " + message, "press-text OK"]


def nothing_left(run):
    """The temporary folder (under the case's own TMP) is gone, the setup
    never ran."""
    faults = []
    left = os.listdir(run.path("tmp"))
    if left:
        faults.append("left in the temp folder: %r" % left)
    if run.fake:
        faults.append("the setup ran: %r" % run.fake)
    return faults


def abort_case(name, method, step, message):
    windows = [(DIALOG, "Press Setup"), (CAPTION, TEXT_ASK_ABORT)]
    script = press_setup_then(step)
    if message:
        windows.append((CAPTION, message))
        script += aborted(message)
    case = Case(name, stub="inst-full-en", pack=install(flags=0), entries=[], temp=[],
                script=script, windows=windows, check=nothing_left)
    case.method = method
    return case


ESC = "key %d" % VK_ESCAPE
CANCEL = "mouse-click 2"

GROUPS = {
    "abort": [
        abort_case("Deflate: Esc, Yes ends the run", "deflate", ESC, None),
        abort_case("PPMd: Cancel, Yes shows 1065 with 60", "ppmd", CANCEL, TEXT_PPMD_ABORTED),
        abort_case("LZMA: Esc, Yes shows Unzip Aborted", "lzma", ESC, TEXT_ABORTED),
        abort_case("WavPack: Cancel, Yes shows Unzip Aborted", "wavpack", CANCEL, TEXT_ABORTED),
        abort_case("JPEG method: Esc, Yes shows Unzip Aborted", "jpeg", ESC, TEXT_ABORTED),
    ],
}


class AbortRunner(stubtest.Runner):
    native_build = None

    def archive(self, case, folder):
        """One large entry of the case's method: several decode buffers of output,
        so that the abort comes in the middle of it."""
        sys.path.insert(0, os.path.join(self.args.tools, "wavpack"))
        import zipwriter
        path = os.path.join(folder, "payload.zip")
        method = case.method
        if method == "deflate":
            with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
                z.writestr("large.txt", text(4 * MIB, 1))
            return path
        work = tempfile.mkdtemp(dir=folder)
        try:
            if method in ("ppmd", "lzma"):
                option = {"ppmd": "-mm=PPMd", "lzma": "-mm=LZMA"}[method]
                entries = zipwriter.seven_zip({"large.txt": text(4 * MIB, 2)}, [option, "-mx=1"],
                                              method={"ppmd": 98, "lzma": 14}[method])
            elif method == "wavpack":
                plain = wav(MIB)
                with open(os.path.join(work, "in.wav"), "wb") as f:
                    f.write(plain)
                subprocess.run(["wavpack", "-q", "-y", "in.wav", "-o", "out.wv"], cwd=work, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
                with open(os.path.join(work, "out.wv"), "rb") as f:
                    entries = [zipwriter.Entry.of("large.wav", 97, f.read(), plain)]
            else:
                # Noise: a JPEG file of well over the decoder's 512 KiB handover.
                width, height = 1200, 1000
                rnd = random.Random(5)
                with open(os.path.join(work, "in.ppm"), "wb") as f:
                    f.write(b"P6\n%d %d\n255\n" % (width, height) + rnd.randbytes(width * height * 3))
                subprocess.run(["cjpeg", "-quality", "95", "-outfile", "large.jpg", "in.ppm"], cwd=work,
                               check=True, timeout=120)
                jpegzip = os.path.join(self.native_build, "tools", "jpeg", "jpegzip")
                subprocess.run([jpegzip, "large.jpg", "jpeg.zip", "large.jpg"], cwd=work, check=True,
                               timeout=300)
                entries = zipwriter.read_entries(os.path.join(work, "jpeg.zip"))
                assert entries[0].method == 96 and entries[0].size > 2 * 0x80000
            zipwriter.write_zip(path, entries)
        finally:
            shutil.rmtree(work)
        return path


if __name__ == "__main__":
    # The native build tree's own option; the rest is the start-up runner's.
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--native-build", required=True)
    known, rest = parser.parse_known_args()
    AbortRunner.native_build = known.native_build
    sys.argv = [sys.argv[0]] + rest
    stubtest.GROUPS = GROUPS
    stubtest.Runner = AbortRunner
    sys.exit(stubtest.main())
