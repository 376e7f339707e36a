#!/usr/bin/env python3
"""Start-up cases of the stub: self-extractors made by the packer (checked by the
checker, or broken on purpose), run under Wine through the launcher and its robot.

usage: stubtest.py GROUP --wine QL_WINE --launcher QLLAUNCH --stubs DIR --tools DIR --work DIR

Every run has a deadline; after every run its relaunch folder is gone, and
after the group the temp folder holds what it held before.
"""
import argparse
import concurrent.futures
import glob
import json
import os
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

RUN_DEADLINE = 90
EYECATCHER = b"TRV\x01sfx\x02"

TEXT_CORRUPT = "header corrupt"
TEXT_DAMAGED = "Zip file is damaged, truncated, or has been changed"
TEXT_INCOMPLETE = "This is an incomplete self-extractor;"
TEXT_BAD_PARAMETER = "Invalid command line parameter (%s)."
CAPTION = "Quolla Self-Extractor"
# A missing string-table entry, as the library reports it.
INTERNAL_ERROR = "Quolla internal error in file QlGutz.c line 580"

FLAG_PE_SECTION = 0x800
FLAG_GREETING_BUTTONS = 0x80000
FLAG_GREETING_OK_CANCEL = 0x100000


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def record_offset(data):
    return data.find(EYECATCHER)


# --- ways to break a packed file after the packer made it

def flip_dos_stub(data):
    """A byte of the DOS stub's message: inside the CRC range unless flag 0x800."""
    out = bytearray(data)
    out[0x50] ^= 0x20
    return bytes(out)


def touch_section_table(data):
    """The first section's line-number pointer, which no loader reads, but which the
    CRC covers with flag 0x800 too."""
    out = bytearray(data)
    at = u32(data, 60) + 248 + 28
    out[at] ^= 0x01
    return bytes(out)


def end_record(data):
    return u32(data, record_offset(data) + 20)


def patch_record(offset, value):
    """A header field set after the packer wrote the record; the CRC no longer
    matches, so cases that are not about it pack with --no-crc."""
    def patch(data):
        out = bytearray(data)
        struct.pack_into("<I", out, record_offset(data) + offset, value(data))
        return bytes(out)
    return patch


def break_string_chain(data):
    """Message 2002 made to continue (a leading "!") with an id the string table
    lacks: loading it is an internal error of the library."""
    text = "Quolla Self-Extractor header corrupt".encode("utf-16-le")
    at = data.find(text)
    assert at > 0 and data.find(text, at + 1) < 0
    return data[:at] + "!".encode("utf-16-le") + data[at + 2:]


def truncate_into_end_record(data):
    return data[:end_record(data) + 2]


def break_end_signature(data):
    out = bytearray(data)
    out[end_record(data) + 3] = 0x07
    return bytes(out)


def raw_deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


class Case:
    """One start-up case: how the file is made, how it is run, what it shows."""

    def __init__(self, name, stub="inst-basic-en", mode="install", pack=(), post=None,
                 args="", code=0, boxes=(), dialog=None, script=(), beside=None,
                 read_only=False, processes=2, block=None, env=(), report=None):
        self.name = name
        self.stub = stub
        self.mode = mode
        self.pack = list(pack)
        self.post = post
        self.args = args
        self.code = code
        self.boxes = list(boxes)      # (caption part, text part) of each window before the dialog
        self.dialog = dialog          # {control id: text} of dialog 100, None when not reached
        self.script = list(script)
        self.beside = beside          # a name made beside the file (".local")
        self.read_only = read_only
        self.processes = processes
        self.block = block            # the configuration block's bytes, as they are
        self.env = list(env)          # NAME=VALUE for the run
        self.report = report          # the crash report's first line, when one is written


INSTALL_TEXTS = ["--command", "setup.exe", "--dialog-text", "Press Setup to install.",
                 "--options", "-win32 -setup -le"]
STANDARD_TEXTS = ["--folder", "C:\\Out", "--options", "-win32 -le"]

LONG_VALUE = "x" * 257

GROUPS = {
    # A good file of each mode reaches dialog 100; the CRC range and its flag.
    "startup": [
        Case("good-install", pack=INSTALL_TEXTS,
             dialog={101: "Press Setup to install.", 1: "&Setup"}),
        Case("good-standard", stub="std-basic-en", mode="standard", pack=STANDARD_TEXTS,
             dialog={106: "C:\\Out", 1: "&Unzip",
                     101: "To unzip all files in good-standard.exe to the specified folder"}),
        Case("good-german", stub="inst-basic-de", pack=INSTALL_TEXTS,
             dialog={101: "Press Setup to install.", 1: "&Installieren", 2: "Abbrechen"}),
        Case("changed byte inside the CRC range is refused", pack=INSTALL_TEXTS,
             post=flip_dos_stub, code=0, boxes=[(CAPTION, TEXT_CORRUPT)]),
        Case("CRC 0 means no check", pack=INSTALL_TEXTS + ["--no-crc"], post=flip_dos_stub,
             dialog={101: "Press Setup to install."}),
        Case("0x800 leaves the DOS header out of the CRC",
             pack=INSTALL_TEXTS + ["--flags", hex(FLAG_PE_SECTION)], post=flip_dos_stub,
             dialog={101: "Press Setup to install."}),
        Case("0x800 keeps the section table in the CRC",
             pack=INSTALL_TEXTS + ["--flags", hex(FLAG_PE_SECTION)], post=touch_section_table,
             boxes=[(CAPTION, TEXT_CORRUPT)]),
        Case("no usable temp folder: runs in place", pack=INSTALL_TEXTS, processes=1,
             env=["TMP=Z:\\no\\such\\folder", "TEMP=Z:\\no\\such\\folder"],
             dialog={101: "Press Setup to install."}),
        Case("a read-only original leaves no copy behind", pack=INSTALL_TEXTS, read_only=True,
             dialog={101: "Press Setup to install."}),
    ],
    # Every refusal shows its message and ends with 0.
    "refusals": [
        Case("truncated inside the end record", pack=INSTALL_TEXTS, post=truncate_into_end_record,
             boxes=[(CAPTION, TEXT_DAMAGED)]),
        Case("bad end-record signature", pack=INSTALL_TEXTS, post=break_end_signature,
             boxes=[(CAPTION, TEXT_DAMAGED)]),
        Case("a header never written", pack=INSTALL_TEXTS + ["--unwritten"],
             boxes=[(CAPTION, TEXT_INCOMPLETE)]),
        Case("-info works on a header never written", pack=INSTALL_TEXTS + ["--unwritten"],
             args="-info", boxes=[(CAPTION, "-win32 -setup -le")]),
        Case("wrong entry point", pack=INSTALL_TEXTS + ["--entry-point", "0x1234"],
             boxes=[(CAPTION, TEXT_DAMAGED)]),
        Case("configuration block that does not inflate", pack=INSTALL_TEXTS, code=0,
             boxes=[(CAPTION, TEXT_CORRUPT)], block=b"\xff" * 40),
        Case("configuration block longer than any builder writes", pack=INSTALL_TEXTS,
             boxes=[(CAPTION, TEXT_CORRUPT)], block=raw_deflate(b"") + bytes(1300)),
        Case("configuration block that inflates past its buffer", pack=INSTALL_TEXTS,
             boxes=[(CAPTION, TEXT_CORRUPT)], block=raw_deflate(b"\x41\x00" * 4000)),
        Case("configuration block of seven strings", pack=INSTALL_TEXTS,
             boxes=[(CAPTION, TEXT_CORRUPT)],
             block=raw_deflate("".join(t + "\0" for t in "abcdefg").encode("utf-16-le"))),
        Case("archive offset beyond the end of the file", pack=INSTALL_TEXTS,
             post=patch_record(12, lambda data: len(data) + 0x1000),
             boxes=[(CAPTION, TEXT_CORRUPT)]),
        Case("end-record offset beyond the end of the file", pack=INSTALL_TEXTS + ["--no-crc"],
             post=patch_record(20, lambda data: 0xFFFFFFF0), boxes=[(CAPTION, TEXT_DAMAGED)]),
        Case("an internal error writes the report and ends the run with 1",
             pack=INSTALL_TEXTS + ["--no-crc"], block=b"\xff" * 40, post=break_string_chain,
             code=1, boxes=[(CAPTION, INTERNAL_ERROR), (CAPTION, "QLSFX32.RPT")],
             report=INTERNAL_ERROR),
        Case(".local beside the stub ends it with 1", pack=INSTALL_TEXTS, beside=".local",
             code=1, processes=1),
    ],
    # The start-up switches, and lines that once made the copy relaunch itself.
    "switches": [
        Case("-info after other words", pack=INSTALL_TEXTS, args="one two -info",
             boxes=[(CAPTION, "-win32 -setup -le")]),
        Case("-info in standard mode", stub="std-basic-en", mode="standard", pack=STANDARD_TEXTS,
             args="-INFO", boxes=[(CAPTION, "-win32 -le")]),
        Case("two good -args= values", pack=INSTALL_TEXTS, args='-args="a b" /ARGS="c"',
             dialog={101: "Press Setup to install."}),
        Case("-args= without its opening quote", pack=INSTALL_TEXTS, args="x -args=a b",
             boxes=[(CAPTION, TEXT_BAD_PARAMETER % "-args=a b")]),
        Case("-args= with an empty value", pack=INSTALL_TEXTS, args='-args="" y',
             boxes=[(CAPTION, TEXT_BAD_PARAMETER % '-args="" y')]),
        Case("-args= without its closing quote", pack=INSTALL_TEXTS, args='-args="open',
             boxes=[(CAPTION, TEXT_BAD_PARAMETER % '-args="open')]),
        Case("-args= too long for its buffer", pack=INSTALL_TEXTS, args='-args="%s"' % LONG_VALUE,
             boxes=[(CAPTION, TEXT_BAD_PARAMETER % ('-args="%s"' % LONG_VALUE))]),
        Case("German message for a bad -args=", stub="inst-basic-de", pack=INSTALL_TEXTS,
             args="-args=a", boxes=[(CAPTION, "Ungültiger Befehlszeilenparameter (-args=a).")]),
        Case("an odd quote runs the copy once", pack=INSTALL_TEXTS, args='odd "quote',
             dialog={101: "Press Setup to install."}),
        Case("a folder ending in a backslash runs the copy once", stub="std-basic-en",
             mode="standard", pack=STANDARD_TEXTS, args='"C:\\Out Dir\\"',
             dialog={106: "C:\\Out"}),
        Case("greeting OK/Cancel, Cancel ends before the dialog",
             pack=INSTALL_TEXTS + ["--greeting", "Hello there",
                                   "--flags", hex(FLAG_GREETING_BUTTONS | FLAG_GREETING_OK_CANCEL)],
             boxes=[(CAPTION, "Hello there")],
             script=["window", "text Hello there", "press-text Cancel"]),
        Case("greeting OK goes on to the dialog",
             pack=INSTALL_TEXTS + ["--greeting", "Hello there"],
             boxes=[(CAPTION, "Hello there")], dialog={101: "Press Setup to install."},
             script=["window", "text Hello there", "press-text OK"]),
    ],
}


class Runner:
    def __init__(self, args):
        self.args = args
        self.work = args.work
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.zip = os.path.join(self.work, "payload.zip")
        with zipfile.ZipFile(self.zip, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("readme.txt", "Quolla test payload\r\n" * 20)
            z.writestr("setup.exe", b"MZ" + bytes(100))
        prefix = os.path.join(args.wine_state, "prefix")
        self.temp_folders = sorted(glob.glob(os.path.join(prefix, "drive_c", "users", "*", "Temp")) +
                                   glob.glob(os.path.join(prefix, "drive_c", "users", "*",
                                                          "AppData", "Local", "Temp")))
        self.prefix = prefix

    def tool(self, name):
        return os.path.join(self.args.tools, name)

    def unix_path(self, windows_path):
        """C:\\users\\... inside the prefix, as a Unix path."""
        if len(windows_path) > 2 and windows_path[1] == ":" and windows_path[0].upper() == "C":
            return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))
        return None

    def temp_listing(self):
        """What a stub may leave in the temp folder: relaunch folders (hexadecimal
        names), extraction folders and crash reports. Other tests of the tree
        may use the folder meanwhile."""
        def ours(name):
            upper = name.upper()
            return (all(c in "0123456789ABCDEF" for c in upper) or
                    (upper.startswith("QLSE") and upper.endswith(".TMP")) or upper == "QLSFX32.RPT")
        return {folder: sorted(n for n in os.listdir(folder) if ours(n)) for folder in self.temp_folders}

    def make(self, case, folder):
        stub = os.path.join(self.args.stubs, "SFXHDR_%s.exe" % case.stub)
        out = os.path.join(folder, slug(case.name) + ".exe")
        options = ["--mode", case.mode] + case.pack
        if case.block is not None:
            block = os.path.join(folder, "block.bin")
            with open(block, "wb") as f:
                f.write(case.block)
            options += ["--block-file", block]
        run = subprocess.run([sys.executable, self.tool("sfxpack.py"), stub, self.zip, out] + options,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if run.returncode != 0:
            return None, "packer: %s" % run.stdout.decode()
        # A file the packer made well must pass the checker; broken ones are made after.
        check = subprocess.run([sys.executable, self.tool("sfxcheck.py"), out],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if case.block is None and "--unwritten" not in case.pack and "--entry-point" not in case.pack \
                and check.returncode != 0:
            return None, "checker refused the packed file: %s" % check.stdout.decode()
        if case.post is not None:
            with open(out, "rb") as f:
                data = case.post(f.read())
            with open(out, "wb") as f:
                f.write(data)
        if case.beside:
            os.makedirs(out + case.beside)
        if case.read_only:
            os.chmod(out, 0o444)
        return out, None

    def run(self, case):
        """Runs one case; answers the list of its faults."""
        folder = os.path.join(self.work, slug(case.name))
        os.makedirs(folder)
        exe, fault = self.make(case, folder)
        if fault:
            return [fault]
        line = '"%s"' % winpath(exe) + (" " + case.args if case.args else "")
        with open(os.path.join(folder, "line.txt"), "w", encoding="utf-8", newline="") as f:
            f.write(line)
        script = ["default cancel 300"] + case.script
        with open(os.path.join(folder, "script.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        log_path = os.path.join(folder, "log.jsonl")
        env = []
        for item in case.env:
            env += ["-env", item]
        run = subprocess.run([self.args.wine, self.args.launcher, "-timeout", str(RUN_DEADLINE)] + env + [
                              "-script", os.path.join(folder, "script.txt"), "-log", log_path,
                              "-cmdfile", os.path.join(folder, "line.txt")],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             timeout=RUN_DEADLINE + 60)
        output = run.stdout.decode("utf-8", "replace")
        faults = []
        if case.read_only:
            os.chmod(exe, 0o644)
        if run.returncode != case.code:
            faults.append("exit code %d, wanted %d (output %r)" % (run.returncode, case.code, output))
        try:
            with open(log_path, encoding="utf-8") as f:
                log = [json.loads(l) for l in f]
        except OSError:
            return faults + ["no run log"]
        windows = [e for e in log if e["event"] == "window"]
        exits = [e for e in log if e["event"] == "exit"]
        if len(exits) != case.processes:
            faults.append("%d processes ran, wanted %d: %r" % (len(exits), case.processes,
                                                               [e["image"] for e in exits]))
        # The first instance ends last and hands on the copy's exit code.
        if len(exits) == 2 and exits[0]["code"] != exits[1]["code"]:
            faults.append("the copy ended with %d, the first instance with %d" %
                          (exits[0]["code"], exits[1]["code"]))
        # Every relaunch folder is gone once the run has ended.
        for e in exits:
            path = self.unix_path(e["image"])
            if path and os.path.exists(os.path.dirname(path)):
                faults.append("relaunch folder left behind: %s" % e["image"])
        wanted = len(case.boxes) + (1 if case.dialog is not None else 0)
        if len(windows) != wanted:
            faults.append("%d windows, wanted %d: %r" % (len(windows), wanted,
                                                         [(w["caption"], texts(w)) for w in windows]))
            return faults
        for window, (caption, text) in zip(windows, case.boxes):
            if caption not in window["caption"] or not any(text in t for t in texts(window)):
                faults.append("window %r %r, wanted %r with %r" % (window["caption"], texts(window),
                                                                    caption, text))
        if case.report is not None:
            faults += self.check_report(windows[-1], case.report)
        if case.dialog is not None:
            dialog = windows[-1]
            controls = {c["id"]: c["text"] for c in dialog["controls"]}
            for control, text in case.dialog.items():
                if text not in controls.get(control, "\0"):
                    faults.append("dialog control %d is %r, wanted %r" % (control, controls.get(control),
                                                                          text))
            if not dialog["caption"]:
                faults.append("dialog without caption")
        return faults


    def check_report(self, box, first_line):
        """The box names the report by its full path; the file starts with the
        internal-error text. The report is removed again."""
        named = [line for t in texts(box) for line in t.split("\n") if line.endswith("QLSFX32.RPT")]
        if not named:
            return ["the report box names no report: %r" % texts(box)]
        path = self.unix_path(named[0])
        if path is None or not os.path.exists(path):
            return ["no report at %r" % named[0]]
        with open(path, "rb") as f:
            report = f.read().decode("cp1252")
        os.remove(path)
        lines = report.split("\r\n")
        faults = []
        if lines[0] != first_line:
            faults.append("report begins with %r" % lines[0])
        if "Module name = " not in report or "Current date/time: " not in report:
            faults.append("report without its header lines: %r" % report)
        return faults


def texts(window):
    return [c["text"] for c in window["controls"]]


def slug(name):
    return "".join(c if c.isalnum() else "-" for c in name)[:48].strip("-")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--wine", required=True)
    parser.add_argument("--wine-state", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--stubs", required=True)
    parser.add_argument("--tools", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--jobs", type=int, default=4)
    args = parser.parse_args()

    runner = Runner(args)
    before = runner.temp_listing()
    cases = GROUPS[args.group]
    # The robot answers only the windows of its own run, so runs may overlap.
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        results = list(pool.map(runner.run, cases))
    failed = 0
    for case, faults in zip(cases, results):
        status = "ok" if not faults else "FAILED"
        print("%-60s %s" % (case.name, status))
        for fault in faults:
            print("    " + fault)
        failed += bool(faults)
    after = runner.temp_listing()
    if after != before:
        print("the temp folder changed: before %r, after %r" % (before, after))
        failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
