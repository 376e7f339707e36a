#!/usr/bin/env python3
"""Builds under Wine with the real builder, helper library and stubs: each made
self-extractor must pass the layout checker, test clean with `unzip -t` (no
"extra bytes": the offsets really moved), come from the expected stub variant,
and, where it runs silently, extract the tree that `unzip -d` extracts.

usage: buildtest.py --wine QL_WINE --launcher QLLAUNCH --fake QLFAKE --builder EXE --helper DLL --help-file CHM
                    --stubs DIR --tools DIR --work DIR
"""
import argparse
import concurrent.futures
import filecmp
import json
import os
import shutil
import struct
import subprocess
import sys
import time
import wave
import zipfile

RUN_DEADLINE = 120
BUILT, BUILD_FAILED = 1, 2
FLAG_PE_SECTION = 0x800
FLAG_SILENT = 0x400000
FLAG_TITLE = 0x10
FLAG_WAIT = 0x4
FLAG_AUTO = 0x200
FLAG_TITLE_CAPTION = 0x40000


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def deflated(entries):
    def make(path):
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in entries:
                z.writestr(name, data)
    return make


def streamed(entries):
    """Entries with deferred sizes: written to a stream that cannot seek."""
    class NoSeek:
        def __init__(self, f):
            self.f = f
        def write(self, b):
            return self.f.write(b)
        def flush(self):
            self.f.flush()
        def tell(self):
            raise OSError("no tell")
        def seek(self, *a):
            raise OSError("no seek")

    def make(path):
        with open(path, "wb") as raw:
            with zipfile.ZipFile(NoSeek(raw), "w", zipfile.ZIP_DEFLATED) as z:
                for name, data in entries:
                    with z.open(name, "w") as member:
                        member.write(data)
    return make


def seven_zip(entries, switches):
    def make(path):
        source = path + ".d"
        os.makedirs(source, exist_ok=True)
        for name, data in entries:
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        subprocess.run(["7z", "a", "-tzip", "-bd", "-y"] + switches + [path] + [n for n, _ in entries],
                       cwd=source, check=True, stdout=subprocess.DEVNULL, timeout=120)
    return make


def wavpack_only(name):
    """A Zip whose one entry is a short WAV file compressed by the wavpack tool
    (method 97), written by the generators' own Zip writer."""
    def make(path):
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wavpack"))
        import zipwriter
        source, packed = path + ".wav", path + ".wv"
        with wave.open(source, "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(22050)
            w.writeframes(b"".join(struct.pack("<hh", (i * 37) % 20000 - 10000, (i * 11) % 3000)
                                   for i in range(4000)))
        subprocess.run(["wavpack", "-q", "-y", source, "-o", packed], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        with open(source, "rb") as f:
            plain = f.read()
        with open(packed, "rb") as f:
            data = f.read()
        zipwriter.write_zip(path, [zipwriter.Entry.of(name, 97, data, plain)])
    return make


FILES = [("readme.txt", b"Quolla build test\r\n" * 50), ("sub/b.txt", b"bee" * 300),
         ("empty.txt", b"")]


def stub_variant(image):
    """The variant code in the stub's version resource (its InternalName)."""
    key = "InternalName".encode("utf-16-le")
    at = image.find(key)
    if at < 0:
        return None
    at += len(key)
    while at + 1 < len(image) and image[at:at + 2] == b"\0\0":
        at += 2
    end = at
    while end + 1 < len(image) and image[end:end + 2] != b"\0\0":
        end += 2
    return image[at:end].decode("utf-16-le")


class Case:
    def __init__(self, name, make, args, variant, exit_code=BUILT, extract=True, flags_on=0, flags_off=0,
                 crc=True, comment=None, texts=None, tester=None, hold_ms=0, messages=None, zip_name="in.zip", files=None):
        self.files = files or {}  # more files in the case folder
        self.zip_name = zip_name
        self.tester = tester or ["unzip", "-t"]  # a tool that tests the output as a Zip
        self.hold_ms = hold_ms                   # another process holds the output open meanwhile
        self.messages = messages                 # ids of the builder's boxes, when they matter
        self.name, self.make, self.args, self.variant = name, make, args, variant
        self.exit_code, self.extract, self.flags_on, self.flags_off = exit_code, extract, flags_on, flags_off
        self.crc, self.comment, self.texts = crc, comment, texts


CASES = [
    Case("plain standard", deflated(FILES), ["-y", "-silent", "-d", "{out}"], "std-basic-en",
         flags_on=FLAG_PE_SECTION | FLAG_SILENT),
    Case("german", deflated(FILES), ["-y", "-lg", "-silent", "-d", "{out}"], "std-basic-de"),
    Case("-nocrc", deflated(FILES), ["-y", "-nocrc", "-silent", "-d", "{out}"], "std-basic-en", crc=False),
    Case("-noac: no section", deflated(FILES), ["-y", "-noac", "-silent", "-d", "{out}"], "std-basic-en",
         flags_off=FLAG_PE_SECTION),
    Case("non-ASCII title: smallest Unicode-capable", deflated(FILES),
         ["-y", "-st", "T\u00eftle", "-silent", "-d", "{out}"], "std-lzpp-en", flags_on=FLAG_TITLE),
    Case("non-ASCII entry name", deflated([("gr\u00fc\u00dfe.txt", b"hallo")]),
         ["-y", "-silent", "-d", "{out}"], "std-lzpp-en"),
    Case("deferred sizes", streamed(FILES[:2]), ["-y", "-silent", "-d", "{out}"], "std-basic-en"),
    Case("-z comment", deflated(FILES), ["-y", "-z", "{dir}\\comment.txt", "-silent", "-d", "{out}"],
         "std-basic-en", comment=b"line one\nline two is longer\n"),
    Case("installation mode", deflated(FILES + [("setup.exe", b"MZ" + bytes(64))]),
         ["-y", "-setup", "-t", "{dir}\\dialog.txt", "-c", "setup.exe"], "inst-basic-en", extract=False,
         texts={"dialog text": "Press Setup."}),
    # unzip knows neither PPMd nor AES: 7-Zip tests the result.
    Case("AES with PPMd: full", seven_zip(FILES[:1], ["-mm=PPMd", "-mem=AES256", "-psecret"]),
         ["-y", "-silent", "-d", "{out}"], "std-full-en", extract=False,
         tester=["7z", "t", "-psecret", "-bd"]),
    # unzip cannot decode WavPack: it lists the result, which still shows
    # offsets that were not shifted.
    Case("WavPack alone: full", wavpack_only("tone.wav"), ["-y", "-silent", "-d", "{out}"], "std-full-en",
         extract=False, tester=["unzip", "-l"]),
    Case("-auto", deflated(FILES), ["-y", "-auto", "-silent", "-d", "{out}"], "std-basic-en",
         flags_on=FLAG_AUTO),
    Case("-wait and -sta, installation mode", deflated(FILES + [("setup.exe", b"MZ")]),
         ["-y", "-setup", "-t", "{dir}\\dialog.txt", "-wait", "prog", "-sta", "My Setup", "-c", "setup.exe"],
         "inst-basic-en", extract=False, flags_on=FLAG_WAIT | FLAG_TITLE | FLAG_TITLE_CAPTION,
         texts={"title": "My Setup"}),
    Case("German installation mode", deflated(FILES + [("setup.exe", b"MZ")]),
         ["-y", "-lg", "-setup", "-t", "{dir}\\dialog.txt", "-c", "setup.exe"], "inst-basic-de", extract=False),
    # The builder waits up to 8 s for its output; these holds start before
    # the builder and leave it a wide margin either way.
    Case("output held open for 3 s: still written", deflated(FILES), ["-y", "-silent", "-d", "{out}"],
         "std-basic-en", hold_ms=3000),
    Case("output held open far longer: refused", deflated(FILES), ["-y"], None, exit_code=BUILD_FAILED,
         extract=False, hold_ms=20000, messages=[1046]),
    # Each text within its own limit, all of them past the block's.
    Case("texts too long together: refused with a message", deflated(FILES + [("setup.exe", b"MZ")]),
         ["-y", "-setup", "-t", "{dir}\\long.txt", "-m", "{dir}\\greeting.txt", "-a", "{dir}\\about.txt",
          "-st", "t" * 60, "-c", "setup.exe " + "x" * 200], None, exit_code=BUILD_FAILED, extract=False,
         messages=[6340], files={"greeting.txt": b"g" * 500, "about.txt": b"a" * 250, "long.txt": b"d" * 250}),
    Case("bad extension", deflated(FILES), ["-y"], None, exit_code=BUILD_FAILED, extract=False,
         zip_name="in.zap", messages=[1039]),
]


class Runner:
    def __init__(self, args):
        self.args = args
        shutil.rmtree(args.work, ignore_errors=True)
        os.makedirs(args.work)
        # The distribution layout: builder, helper library and help file side by side.
        self.dist = os.path.join(args.work, "dist")
        os.makedirs(self.dist)
        for path, name in ((args.builder, "qlxtra32.exe"), (args.helper, "QLSE32.DLL"),
                           (args.help_file, "quollase.chm")):
            shutil.copyfile(path, os.path.join(self.dist, name))

    def run(self, case):
        folder = os.path.join(self.args.work, case.name.replace(" ", "_").replace(":", "").replace("/", "_"))
        os.makedirs(folder)
        zip_path = os.path.join(folder, case.zip_name)
        case.make(zip_path)
        with open(os.path.join(folder, "dialog.txt"), "w") as f:
            f.write("Press Setup.")
        for name, data in case.files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        if case.comment is not None:
            with open(os.path.join(folder, "comment.txt"), "wb") as f:
                f.write(case.comment)
        out_dir = os.path.join(folder, "out")
        holder = None
        if case.hold_ms:
            exe = os.path.join(folder, "in.exe")
            with open(exe, "wb") as f:
                f.write(b"old")
            holder = subprocess.Popen([self.args.wine, self.args.fake, "hold", winpath(exe), str(case.hold_ms)],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(2)
        args = [a.replace("{out}", winpath(out_dir)).replace("{dir}", winpath(folder)) for a in case.args]
        log = os.path.join(folder, "messages.log")
        env = dict(os.environ, QL_MESSAGE_LOG=winpath(log))
        builder = os.path.join(self.dist, "qlxtra32.exe")
        run = subprocess.run([self.args.wine, builder, winpath(zip_path)] + args, env=env, cwd=folder,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_DEADLINE)
        messages = open(log, encoding="utf-8").read() if os.path.exists(log) else ""
        if holder is not None:
            holder.wait(timeout=RUN_DEADLINE)
        faults = []
        ids = [int(line.split("\t", 1)[0]) for line in messages.splitlines() if line.strip()]
        if case.messages is not None and ids != case.messages:
            faults.append("messages %s, wanted %s: %r" % (ids, case.messages, messages))
        if run.returncode != case.exit_code:
            return faults + ["exit code %d, wanted %d; messages %r" % (run.returncode, case.exit_code, messages)]
        if case.exit_code != BUILT:
            return faults
        exe = os.path.join(folder, "in.exe")
        check = subprocess.run([sys.executable, os.path.join(self.args.tools, "sfxcheck.py"), exe, "--json"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if check.returncode != 0:
            return ["checker: %s" % check.stdout.decode()]
        result = json.loads(check.stdout)
        rec = result["record"]
        variant = stub_variant(open(exe, "rb").read()[:rec["stub_length"]])
        if variant != case.variant:
            faults.append("stub %s, wanted %s" % (variant, case.variant))
        if rec["flags"] & case.flags_on != case.flags_on or rec["flags"] & case.flags_off:
            faults.append("flags 0x%x" % rec["flags"])
        if (rec["crc32"] != 0) != case.crc:
            faults.append("CRC 0x%x" % rec["crc32"])
        for name, data in case.files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        if case.comment is not None:
            data = open(exe, "rb").read()
            at = rec["comment_offset"]
            if data[at:at + len(case.comment)] != case.comment or rec["comment_lines"] != 2 or \
                    rec["comment_longest_line"] != len("line two is longer"):
                faults.append("comment not where the record says")
        for name, text in (case.texts or {}).items():
            fields = dict(zip(["about", "command", "arguments", "reserved", "dialog text", "title",
                               "greeting", "options"] if result["mode"] == "install" else
                              ["folder", "program", "arguments", "reserved", "greeting", "title",
                               "about", "options"], result["texts"]))
            if fields.get(name) != text:
                faults.append("%s = %r" % (name, fields.get(name)))
        test = subprocess.run(case.tester + [exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=60)
        text = test.stdout.decode("utf-8", "replace")
        if test.returncode != 0 or "extra bytes" in text:
            faults.append("%s: %s" % (" ".join(case.tester), text))
        if case.extract and not faults:
            faults += self.extract(folder, exe, zip_path, out_dir)
        return faults

    def extract(self, folder, exe, zip_path, out_dir):
        line = os.path.join(folder, "line.txt")
        with open(line, "w", encoding="utf-8", newline="") as f:
            f.write('"%s"' % winpath(exe))
        script = os.path.join(folder, "script.txt")
        with open(script, "w") as f:
            f.write("default cancel 300\n")
        run = subprocess.run([self.args.wine, self.args.launcher, "-timeout", str(RUN_DEADLINE), "-script", script,
                              "-log", os.path.join(folder, "log.jsonl"), "-cmdfile", line],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_DEADLINE + 60)
        if run.returncode != 0:
            return ["stub ended with %d: %s" % (run.returncode, run.stdout.decode("utf-8", "replace"))]
        wanted = os.path.join(folder, "unzipped")
        subprocess.run(["unzip", "-q", "-d", wanted, zip_path], check=True, timeout=60)
        compare = filecmp.dircmp(wanted, out_dir)
        faults = []

        def walk(c, prefix):
            for name in c.left_only + c.right_only + c.diff_files + c.funny_files:
                faults.append("tree differs at %s%s" % (prefix, name))
            for name, sub in c.subdirs.items():
                walk(sub, prefix + name + "/")
        walk(compare, "")
        return faults


def main(argv):
    parser = argparse.ArgumentParser()
    for name in ("wine", "launcher", "fake", "builder", "helper", "help-file", "stubs", "tools", "work"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args(argv)
    runner = Runner(args)
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for case, faults in zip(CASES, pool.map(runner.run, CASES)):
            print("%s %s" % ("ok  " if not faults else "FAIL", case.name))
            for fault in faults:
                print("     " + fault)
            failed += bool(faults)
    print("%d of %d builds failed" % (failed, len(CASES)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
