#!/usr/bin/env python3
"""Runs every case of one fixture generator through the engine test program
under Wine and checks what came out.

  run_fixtures.py --generator tools/x/make-x-fixtures.py --source-root DIR
                  --driver qlenginerun.exe --wine-state DIR --work DIR
                  [--tz ZONE] [--packed-stub STUB.exe]

A case passes when the tree in its target folder equals <case>.expected/, or
when the extraction ends with the message of <case>.fail (and then leaves no
file of an entry that did not complete); in every case nothing may appear
outside the target folder, every file keeps the time of its local header
(local time in ZONE), no internal check may fire and no question may come
unscripted; where <case>.unzip exists, the times also equal those that unzip
sets under the same zone. With --packed-stub each archive is first packed into a
self-extractor (where the packer takes it) and extracted from there.
"""
import argparse
import datetime
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
from zoneinfo import ZoneInfo

MB_ICONERROR = 0x10


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unixpath(path):
    if path[:2].upper() == "Z:":
        return path[2:].replace("\\", "/")
    return None


def tree(root):
    """{relative path: bytes, or None for a folder}."""
    out = {}
    for base, dirs, files in os.walk(root):
        for d in dirs:
            out[os.path.relpath(os.path.join(base, d), root)] = None
        for f in files:
            with open(os.path.join(base, f), "rb") as fh:
                out[os.path.relpath(os.path.join(base, f), root)] = fh.read()
    return out


def dos_to_epoch(date, time, zone):
    year = 1980 + (date >> 9)
    month = min(max((date >> 5) & 15, 1), 12)
    leap = year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)
    days = [31, 29 if leap else 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31][month - 1]
    day = min(max(date & 31, 1), days)
    hour, minute, second = min(time >> 11, 23), min((time >> 5) & 63, 59), min(time & 31, 29) * 2
    local = datetime.datetime(year, month, day, hour, minute, second, tzinfo=ZoneInfo(zone))
    return local.timestamp()


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "t": "\t"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def read_report(path):
    records = []
    if not os.path.exists(path):
        return records
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            records.append(line.split("\t"))
    return records


def run_wine(args, wine_state, source_root, zone):
    env_sh = os.path.join(source_root, "tools", "wine", "wine-env.sh")
    script = '. "$1"; export TZ="$2"; shift 2; exec wine "$@" </dev/null'
    env = dict(os.environ, state=wine_state)
    for _ in range(3):
        # Wine's helper processes outlive the program and inherit its output:
        # a file, not a pipe, or the run never sees the end of it.
        with tempfile.TemporaryFile() as out:
            rc = subprocess.run(["bash", "-c", script, "ql", env_sh, zone] + args, env=env,
                                stdout=out, stderr=subprocess.STDOUT).returncode
            out.seek(0)
            text = out.read().decode("utf-8", "replace")
        # The emulator now and then dies while Wine tears down: run again.
        if "qemu: uncaught target signal" not in text:
            break
    return rc, text


class Case:
    def __init__(self, cases_dir, name):
        self.name = name
        base = os.path.join(cases_dir, name)
        self.zip = base + ".zip"
        self.expected = base + ".expected" if os.path.isdir(base + ".expected") else None
        self.fail = None
        if os.path.exists(base + ".fail"):
            with open(base + ".fail") as f:
                self.fail = f.read().strip()
        self.password = b""
        if os.path.exists(base + ".password"):
            with open(base + ".password", "rb") as f:
                self.password = f.read()
        self.answers = []
        if os.path.exists(base + ".answers"):
            with open(base + ".answers") as f:
                self.answers = [l.split() for l in f.read().splitlines() if l.strip()]
        self.setup = base + ".setup" if os.path.isdir(base + ".setup") else None
        self.unzip = os.path.exists(base + ".unzip")


def check_case(case, sandbox, target, report, zone, outside_marks):
    problems = []
    result = None
    boxes, completed, setup_files = [], {}, set()
    if case.setup:
        setup_files = set(k for k, v in tree(case.setup).items() if v is not None)
    current = None
    last_percent = 0
    for r in report:
        kind = r[0]
        if kind == "assert":
            problems.append("internal check fired: %s line %s" % (r[1], r[2]))
        elif kind == "unscripted":
            problems.append("unscripted question %s" % r[1])
        elif kind == "box":
            boxes.append((int(r[1]), int(r[2]), unescape(r[4])))
        elif kind == "create":
            current = r[1]
            completed.pop(current, None)
        elif kind == "close":
            if current is not None and r[1] == "1":
                completed[current] = (int(r[2]), int(r[3]))
            current = None
        elif kind == "delete":
            completed.pop(r[1], None)
        elif kind == "progress":
            if not last_percent <= int(r[1]) <= 100:
                problems.append("meter from %d%% to %s%%" % (last_percent, r[1]))
            last_percent = int(r[1])
        elif kind == "result":
            result = r[1]
    if result is None:
        return ["no result (the program did not finish the case)"]

    # Nothing outside the target folder.
    for base, dirs, files in os.walk(sandbox):
        for n in dirs + files:
            p = os.path.join(base, n)
            if not (target + "/").startswith(p + "/") and not p.startswith(target + "/"):
                problems.append("written outside the target: %s" % os.path.relpath(p, sandbox))
    for pattern in outside_marks:
        for p in glob.glob(pattern):
            problems.append("written outside the target: %s" % p)
            shutil.rmtree(p, ignore_errors=True) if os.path.isdir(p) else os.remove(p)

    # Every file there is one the engine completed (or was there before).
    got = tree(target)
    done_files = {}
    for win, stamp in completed.items():
        u = unixpath(win)
        if u is not None and os.path.abspath(u).startswith(target + "/"):
            done_files[os.path.relpath(os.path.abspath(u), target)] = stamp
    for rel, content in got.items():
        if content is not None and rel not in done_files and rel not in setup_files:
            problems.append("file of an entry that did not complete: %s" % rel)

    # The times of the local headers, local time of the zone.
    for rel, (date, time) in done_files.items():
        path = os.path.join(target, rel)
        if os.path.isfile(path):
            want = dos_to_epoch(date, time, zone)
            have = os.stat(path).st_mtime
            if abs(have - want) > 0.001:
                problems.append("time of %s: %s, not %s" % (
                    rel, datetime.datetime.utcfromtimestamp(have), datetime.datetime.utcfromtimestamp(want)))

    errors = [b for b in boxes if b[1] & MB_ICONERROR]
    if case.fail is None:
        if result != "0":
            problems.append("result %s, not 0 (%s)" % (result, errors[-1][2] if errors else "no message"))
        elif errors:
            problems.append("error message %d: %s" % (errors[0][0], errors[0][2]))
    elif case.fail == "cancelled":
        if result != "1":
            problems.append("result %s, not 1 (cancelled)" % result)
    else:
        want_id, _, want_text = case.fail.partition(" ")
        if result != "2":
            problems.append("result %s, not 2 (message %s)" % (result, want_id))
        if not errors:
            problems.append("no error message, not %s" % want_id)
        elif str(errors[-1][0]) != want_id or want_text not in errors[-1][2]:
            problems.append("message %d %r, not %s %s" % (errors[-1][0], errors[-1][2], want_id, want_text))
    if case.expected is not None:
        want = tree(case.expected)
        if case.setup:
            for rel, content in tree(case.setup).items():
                want.setdefault(rel, content)
        for rel in sorted(set(want) | set(got)):
            if rel not in got:
                problems.append("missing: %s" % rel)
            elif rel not in want:
                problems.append("not expected: %s" % rel)
            elif want[rel] != got[rel]:
                problems.append("differs: %s" % rel)
    return problems


def unzip_times_agree(case, target, zone):
    """Where the generator names unzip the reference: the same times as unzip sets."""
    if not case.unzip:
        return []
    with tempfile.TemporaryDirectory() as tmp:
        done = subprocess.run(["unzip", "-qq", "-o", case.zip, "-d", tmp], env=dict(os.environ, TZ=zone),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        if done.returncode != 0 or tree(tmp) != tree(target):
            return ["unzip extracts another tree"]
        problems = []
        for base, _, files in os.walk(tmp):
            for f in files:
                rel = os.path.relpath(os.path.join(base, f), tmp)
                a = os.stat(os.path.join(base, f)).st_mtime
                b = os.stat(os.path.join(target, rel)).st_mtime
                if a != b:
                    problems.append("time of %s differs from unzip's" % rel)
        return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--generator", required=True)
    ap.add_argument("--source-root", required=True)
    ap.add_argument("--native-build", default="")
    ap.add_argument("--driver", required=True)
    ap.add_argument("--wine-state", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--tz", default="UTC")
    ap.add_argument("--packed-stub")
    args = ap.parse_args()

    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    cases_dir = os.path.join(work, "cases")
    os.makedirs(cases_dir)
    env = dict(os.environ)
    env["QL_NATIVE_BUILD"] = args.native_build or os.path.join(args.source_root, "build", "native")
    generator = os.path.join(args.source_root, args.generator)
    subprocess.run([sys.executable, generator, cases_dir], check=True, env=env)

    names = sorted(os.path.basename(p)[:-4] for p in glob.glob(os.path.join(cases_dir, "*.zip")))
    cases = [Case(cases_dir, n) for n in names]
    lines, places = [], {}
    packed_dir = os.path.join(work, "packed")
    os.makedirs(packed_dir)
    for c in cases:
        sandbox = os.path.join(work, "out", c.name)
        target = os.path.join(sandbox, "a", "b", "target")
        os.makedirs(target)
        if c.setup:
            shutil.copytree(c.setup, target, dirs_exist_ok=True)
        archive = c.zip
        total = 0
        try:
            with zipfile.ZipFile(c.zip) as z:
                total = sum(i.file_size for i in z.infolist()) & 0xFFFFFFFF
        except Exception:
            pass
        if args.packed_stub:
            exe = os.path.join(packed_dir, c.name + ".exe")
            packer = os.path.join(args.source_root, "tools", "sfxpack.py")
            if subprocess.run([sys.executable, packer, args.packed_stub, c.zip, exe],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                archive = exe
        answers = ",".join("%s:%s" % (a[0], a[1]) for a in c.answers)
        report = os.path.join(work, "out", c.name + ".report")
        places[c.name] = (sandbox, target, report)
        lines.append("\t".join([winpath(archive), winpath(target), winpath(report),
                                c.password.hex(), answers, str(total)]))
    listing = os.path.join(work, "cases.list")
    with open(listing, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")

    rc, output = run_wine([args.driver, winpath(listing)], args.wine_state, args.source_root, args.tz)
    if rc != 0:
        print(output)
        print("the engine test program ended with %d" % rc)

    prefix = os.path.join(args.wine_state, "prefix", "drive_c")
    outside_marks = [os.path.join(prefix, "qlhostile*"), "/qlhostile*", os.path.join(work, "qlhostile*"),
                     os.path.join(work, "out", "qlhostile*")]
    passed = failed = 0
    for c in cases:
        sandbox, target, report = places[c.name]
        records = read_report(report)
        problems = check_case(c, sandbox, target, records, args.tz, outside_marks)
        if not problems and c.expected is not None and c.fail is None:
            problems = unzip_times_agree(c, target, args.tz)
        if problems:
            failed += 1
            print("FAIL %s: %s" % (c.name, "; ".join(problems)))
        else:
            passed += 1
            print("ok   %s" % c.name)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or rc != 0 or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
