#!/usr/bin/env python3
"""The stub over a spanned set on drive A: under Wine: sets made by
tools/spanset.py, started from disk 1, each disk put in when the stub asks for
it; the extracted tree against unzip's.

usage: span_stub_test.py --wine QL_WINE --wine-state DIR --launcher QLLAUNCH --stubs DIR
                         --tools DIR --work DIR
"""
import argparse
import filecmp
import os
import random
import shutil
import subprocess
import sys
import zipfile

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import floppy  # noqa: E402
from floppy import Rule, winpath  # noqa: E402

CAPTION = "Quolla Self-Extractor"
FLAG_AUTO = 0x200
FLAG_OVERWRITE = 0x2
ASK_DISK = "Please insert disk %d in drive A:."
WRONG_LABEL = "missing or has an incorrect label.\nInsert disk number %d."
ASK_OVERWRITE = "already exists.  Overwrite file?"
# Message box buttons.
OK, CANCEL, ABORT, RETRY, IGNORE, NO = 1, 2, 3, 4, 5, 7


def payload(path):
    """Entries that do not compress, so that the parts are as large as cut."""
    rng = random.Random(16)
    entries = [("first.bin", rng.randbytes(30000)), ("notes.txt", b"spanned set\r\n" * 300),
               ("sub/middle.bin", rng.randbytes(40000)), ("sub/deep/last.bin", rng.randbytes(25000)),
               ("tail.txt", b"the end\r\n")]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            z.writestr(name, data)
    return entries


def ask(disk, answer=OK, insert=None, wrong=False):
    # A rule's text is one line: the wrong-label box is told by its first.
    text = (WRONG_LABEL % disk).split("\n")[0] if wrong else ASK_DISK % disk
    return Rule(["caption " + CAPTION, "text " + text], ["press %d" % answer], disk=insert)


class Case:
    def __init__(self, name, form, rules, cuts=(), cut_at=(), tree="all", files=None,
                 before=None, flags=FLAG_AUTO | FLAG_OVERWRITE, prompts=None):
        self.name = name
        self.form = form
        self.rules = rules          # (folder) -> [Rule]
        self.cuts = cuts
        self.cut_at = cut_at
        self.tree = tree            # "all": equal to unzip's; else the names that must be there
        self.files = files or {}    # {name: bytes} the out folder must hold afterwards
        self.before = before        # {name: bytes} in the out folder before the run
        self.flags = flags
        self.prompts = prompts      # the texts of the run's boxes, in order


CUTS = (20000, 60000)   # three disks: the cuts fall inside first.bin and middle.bin

CASES = [
    Case("executable parts over three disks", "exe",
         lambda d: [ask(2, insert=d("disk2")), ask(3, insert=d("disk3"))],
         cuts=CUTS, prompts=[ASK_DISK % 2, ASK_DISK % 3]),
    Case("plain Zip parts over three disks, the first read from its offset 0", "zip",
         lambda d: [ask(2, insert=d("disk2")), ask(3, insert=d("disk3"))],
         cuts=CUTS, prompts=[ASK_DISK % 2, ASK_DISK % 3]),
    Case("an entry whose data starts exactly on disk 2 is extracted from there", "exe",
         lambda d: [ask(2, insert=d("disk2"))], cut_at=("sub/middle.bin",), prompts=[ASK_DISK % 2]),
    Case("an entry whose data starts exactly on disk 2 is skipped there", "zip",
         lambda d: [Rule(["text " + ASK_OVERWRITE], ["press %d" % NO]), ask(2, insert=d("disk2"))],
         cut_at=("sub/middle.bin",), flags=FLAG_AUTO,
         before={"sub/middle.bin": b"kept"}, tree=["first.bin", "notes.txt", "sub/deep/last.bin", "tail.txt"],
         files={"sub/middle.bin": b"kept"}, prompts=[ASK_OVERWRITE, ASK_DISK % 2]),
    # The label still names no disk when disk 3 is due: Retry once it is in.
    Case("Ignore on a wrongly labelled disk goes on with the part found on it", "exe",
         lambda d: [ask(2, insert=d("disk2-unlabelled")), ask(2, IGNORE, wrong=True),
                    ask(3, RETRY, insert=d("disk3"), wrong=True)],
         cuts=CUTS, prompts=[ASK_DISK % 2, WRONG_LABEL % 2, WRONG_LABEL % 3]),
    Case("Abort on a wrongly labelled disk ends the extraction", "exe",
         lambda d: [ask(2, insert=d("disk2-unlabelled")), ask(2, ABORT, wrong=True)],
         cuts=CUTS, tree=[], prompts=[ASK_DISK % 2, WRONG_LABEL % 2]),
    Case("Cancel in the disk request ends the extraction", "zip",
         lambda d: [ask(2, CANCEL)], cuts=(45000,), tree=["first.bin", "notes.txt"],
         prompts=[ASK_DISK % 2]),
]


def reference(zip_path, folder):
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run(["unzip", "-q", zip_path, "-d", folder], check=True, timeout=60)


def run_case(args, drive, case, zip_path, ref):
    folder = os.path.join(args.work, "".join(c if c.isalnum() else "-" for c in case.name)[:48])
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    out = os.path.join(folder, "out")
    os.makedirs(out)
    for name, data in (case.before or {}).items():
        os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    disks = os.path.join(folder, "disks")
    stub = os.path.join(args.stubs, "SFXHDR_std-basic-en.exe")
    command = [sys.executable, os.path.join(args.tools, "spanset.py"), stub, zip_path, disks,
               "--form", case.form, "--mode", "standard", "--folder", winpath(out),
               "--flags", hex(case.flags), "--cut", ",".join(str(c) for c in case.cuts)]
    for name in case.cut_at:
        command += ["--cut-at-data", name]
    made = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    if made.returncode != 0:
        return ["spanset: " + made.stdout.decode()]
    # A disk without a set's label, holding disk 2's part.
    if os.path.isdir(os.path.join(disks, "disk2")):
        shutil.copytree(os.path.join(disks, "disk2"), os.path.join(disks, "disk2-unlabelled"))
        with open(os.path.join(disks, "disk2-unlabelled", ".windows-label"), "w") as f:
            f.write("BACKUP 002\n")
    drive.insert(os.path.join(disks, "disk1"))
    rules = case.rules(lambda name: os.path.join(disks, name))
    code, records, output = floppy.run(args.wine, args.launcher, drive, folder, '"A:\\SET.EXE"', rules)
    drive.eject()
    faults = []
    if code != 0:
        faults.append("exit code %d (%s)" % (code, output.strip()))
    boxes = [w for w in floppy.windows(records) if w["caption"] == CAPTION]
    seen = [" | ".join(floppy.texts(w)) for w in boxes]
    if case.prompts is not None:
        if len(boxes) != len(case.prompts) or any(not floppy.shows(w, p) for w, p in zip(boxes, case.prompts)):
            faults.append("boxes %r, wanted %r" % (seen, case.prompts))
    unused = [r for r in records if r["event"] == "unused"]
    if unused:
        faults.append("rules that answered nothing: %r" % unused)
    got = floppy.tree(out)
    wanted = floppy.tree(ref)
    names = sorted(wanted) if case.tree == "all" else sorted(case.tree)
    for name in names:
        if name not in got:
            faults.append("%s was not extracted" % name)
        elif not filecmp.cmp(got[name], wanted[name], shallow=False):
            faults.append("%s differs from unzip's" % name)
    extra = sorted(set(got) - set(names) - set(case.files))
    if extra:
        faults.append("unexpected files in the folder: %r" % extra)
    for name, data in case.files.items():
        with open(os.path.join(out, name), "rb") as f:
            if f.read() != data:
                faults.append("%s was changed" % name)
    return faults


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--wine-state", "--launcher", "--stubs", "--tools", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--only", help="run the cases whose name holds this text")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    zip_path = os.path.join(args.work, "payload.zip")
    payload(zip_path)
    ref = os.path.join(args.work, "reference")
    reference(zip_path, ref)
    drive = floppy.Floppy(args.wine, args.wine_state,
                          os.path.join(os.path.dirname(args.launcher), "qldisk.exe"))
    failed = 0
    try:
        for case in CASES:
            if args.only and args.only not in case.name:
                continue
            failed += floppy.report(case.name, run_case(args, drive, case, zip_path, ref))
    finally:
        drive.remove()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
