#!/usr/bin/env python3
"""The builder spans a Zip of a few MiB over the disks of drive A: under Wine
(-spanexe and -spanzip), each disk put in when it asks; then the stub, started
from disk 1, extracts the set to a tree equal to unzip's.

usage: span_build_test.py --wine QL_WINE --wine-state DIR --launcher QLLAUNCH --builder EXE
                          --helper DLL --help-file CHM --work DIR
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
DISK_SIZE = 1000000
DISKS = 6   # folders made; the set takes what it needs
BUILT = 1


def payload(path):
    rng = random.Random(126)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("big/one.bin", rng.randbytes(1200000))
        z.writestr("readme.txt", b"a spanned self-extractor\r\n" * 2000)
        z.writestr("big/two.bin", rng.randbytes(900000))
        for i in range(20):
            z.writestr("small/%02d.txt" % i, ("file %d\r\n" % i).encode() * (i + 1))
        z.writestr("big/three.bin", rng.randbytes(700000))


def disk_rules(disk, text, caption=CAPTION):
    return Rule(["caption " + caption, "text " + text], ["press 1"], disk=disk)


def build(args, drive, folder, form, zip_path, out, env=()):
    """The build over the disks of `folder`: (exit code, windows, disk folders)."""
    dist = os.path.join(folder, "dist")
    os.makedirs(dist)
    for path, name in ((args.builder, "qlxtra32.exe"), (args.helper, "QLSE32.DLL"),
                       (args.help_file, "quollase.chm")):
        shutil.copyfile(path, os.path.join(dist, name))
    disks = [os.path.join(folder, "disk%d" % n) for n in range(1, DISKS + 1)]
    for d in disks:
        os.makedirs(d)
    drive.eject()
    # Disk 1 when it starts, the next disks as the library asks, disk 1
    # again for the header record.
    rules = [disk_rules(disks[0], "Please insert disk 1 into drive A:")]
    rules += [disk_rules(disks[n - 1], "Please insert disk %d into drive A:." % n) for n in range(2, DISKS + 1)]
    rules.append(disk_rules(disks[0], "Please insert disk 1."))
    line = '"%s" "%s" -span%s a: -y -auto -d "%s"' % (winpath(os.path.join(dist, "qlxtra32.exe")),
                                                       winpath(zip_path), form, winpath(out))
    code, records, output = floppy.run(args.wine, args.launcher, drive, folder, line, rules,
                                       env=["QL_SPAN_DISK_SIZE=%d" % DISK_SIZE] + list(env), timeout=300)
    return code, floppy.windows(records), disks


def run_cancelled(args, drive, zip_path):
    """Cancelled half way: the build fails and the part being written is
    gone; disk 1's executable (not in the drive then) keeps its header record
    unwritten, which the stub refuses to run."""
    folder = os.path.join(args.work, "cancelled")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    code, windows, disks = build(args, drive, folder, "exe", zip_path, os.path.join(folder, "out"),
                                 env=["QL_TEST_CANCEL_AT=60"])
    faults = []
    if code != 2:
        faults.append("the build ended with %d, wanted 2 (failed)" % code)
    labelled = [d for d in disks if os.path.exists(os.path.join(d, ".windows-label"))]
    if len(labelled) < 2:
        return faults + ["the cancel came before disk 2 (%d disks labelled)" % len(labelled)]
    if "payload.exe" in os.listdir(labelled[-1]):
        faults.append("%s still holds its cut-off part" % os.path.basename(labelled[-1]))
    first = os.path.join(labelled[0], "payload.exe")
    if os.path.exists(first):
        with open(first, "rb") as f:
            data = f.read()
        at = data.find(b"TRV\x01sfx\x02")
        if at < 0 or data[at + 42:at + 44] != b"\0\0":
            faults.append("disk 1's executable has its header record written")
    return faults


def run_form(args, drive, form, zip_path, ref):
    faults = []
    folder = os.path.join(args.work, form)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    out = os.path.join(folder, "out")
    code, windows, disks = build(args, drive, folder, form, zip_path, out)
    seen = [(w["caption"], floppy.texts(w)) for w in windows]
    if code != BUILT:
        return ["the build ended with %d; windows %r" % (code, seen)]
    # Disk 1 first and last; every disk with its label and its part.
    used = [d for d in disks if os.listdir(d)]
    if len(used) < 3:
        faults.append("the set took %d disks, wanted 3 or more" % len(used))
    part = "payload." + form
    for n, d in enumerate(used, 1):
        names = sorted(os.listdir(d))
        with open(os.path.join(d, ".windows-label")) if os.path.exists(os.path.join(d, ".windows-label")) else open(os.devnull) as f:
            label = f.read().strip()
        if label != "PKBACK# %03d" % n:
            faults.append("disk %d is labelled %r" % (n, label))
        if part not in names:
            faults.append("disk %d holds %r, no %s" % (n, names, part))
        size = sum(os.path.getsize(os.path.join(d, x)) for x in names)
        if size > DISK_SIZE:
            faults.append("disk %d holds %d bytes, more than the disk's %d" % (n, size, DISK_SIZE))
    if form == "zip" and "payload.exe" not in os.listdir(used[0]):
        faults.append("disk 1 holds no payload.exe")
    if faults:
        return faults

    # The stub from disk 1, each further disk put in when it asks.
    drive.insert(used[0])
    rules = [disk_rules(used[n - 1], "Please insert disk %d in drive A:." % n) for n in range(2, len(used) + 1)]
    code, records, output = floppy.run(args.wine, args.launcher, drive, folder, '"A:\\payload.exe"', rules,
                                       timeout=300)
    drive.eject()
    if code != 0:
        faults.append("the stub ended with %d (%s)" % (code, output.strip()))
    unused = [r for r in records if r["event"] == "unused"]
    if unused:
        faults.append("disk requests that never came: %r" % unused)
    got, wanted = floppy.tree(out), floppy.tree(ref)
    if sorted(got) != sorted(wanted):
        faults.append("extracted %r, wanted %r" % (sorted(got), sorted(wanted)))
    faults += ["%s differs from unzip's" % n for n in sorted(set(got) & set(wanted))
               if not filecmp.cmp(got[n], wanted[n], shallow=False)]
    return faults


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--wine-state", "--launcher", "--builder", "--helper", "--help-file", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--only", choices=["exe", "zip"])
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    zip_path = os.path.join(args.work, "payload.zip")
    payload(zip_path)
    ref = os.path.join(args.work, "reference")
    subprocess.run(["unzip", "-q", zip_path, "-d", ref], check=True, timeout=60)
    drive = floppy.Floppy(args.wine, args.wine_state, os.path.join(os.path.dirname(args.launcher), "qldisk.exe"))
    failed = 0
    try:
        for form in ("exe", "zip"):
            if args.only and args.only != form:
                continue
            failed += floppy.report("-span%s over the disks of A:, extracted by the stub" % form,
                                    run_form(args, drive, form, zip_path, ref))
        if not args.only:
            failed += floppy.report("a cancel half way leaves no cut-off part",
                                    run_cancelled(args, drive, zip_path))
    finally:
        drive.remove()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
