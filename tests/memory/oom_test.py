#!/usr/bin/env python3
"""The out-of-memory handlers show their box and end the program with exit code
1, whether operator new or malloc ran out: the library's handler with its
caption, and the stub's own (caption without the hyphen) also after a PPMd or
an LZMA entry, whose decoders suspend the handler around their large blocks
and must put back the one the stub installed.

usage: oom_test.py --wine QL_WINE --launcher QLLAUNCH --probe OOM_PROBE
                   --stub-probe STUB_OOM_PROBE --tools DIR --work DIR
"""
import argparse
import concurrent.futures
import json
import os
import random
import shutil
import subprocess
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wintools"))
from launch import launch  # noqa: E402

TEXT = "There is not enough memory available for Quolla to continue."
LIBRARY_CAPTION = "Quolla Self-Extractor"
STUB_CAPTION = "Quolla Self Extractor"


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def entry_file(tools, work, method):
    """The data of one 7-Zip entry of the method, and its uncompressed size."""
    sys.path.insert(0, os.path.join(tools, "wavpack"))
    import zipwriter
    rnd = random.Random(7)
    words = b"stub entry model dictionary block extract memory handler ".split()
    plain = b" ".join(rnd.choice(words) for _ in range(60000))
    entry = zipwriter.seven_zip({"data.txt": plain}, ["-mm=" + method], method={"PPMd": 98, "LZMA": 14}[method])[0]
    path = os.path.join(work, method + ".bin")
    with open(path, "wb") as f:
        f.write(entry.data)
    return [winpath(path), str(entry.size)]


def run(args, work, name, program, arguments, caption):
    """One probe run; answers its faults."""
    script = os.path.join(work, name + ".txt")
    with open(script, "w", encoding="utf-8") as f:
        f.write("default leave\nwindow\ncaption %s\ntext %s\npress 1\n" % (caption, TEXT))
    log_path = os.path.join(work, name + ".jsonl")
    done = launch(args.wine, args.launcher, ["-timeout", "60", "-script", script,
                                             "-log", log_path, "--", program] + arguments,
                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
    output = done.stdout.decode("utf-8", "replace")
    faults = []
    if done.returncode != 1:
        faults.append("exit code %d, wanted 1 (output %r)" % (done.returncode, output))
    with open(log_path, encoding="utf-8") as f:
        log = [json.loads(line) for line in f]
    boxes = [r for r in log if r.get("event") == "window"]
    answered = [r for r in log if r.get("event") == "action" and r.get("do") == "press"]
    if len(boxes) != 1 or boxes[0]["caption"] != caption or \
            not any(TEXT in (c.get("text") or "") for c in boxes[0]["controls"]):
        faults.append("wanted one box %r with the message, got %r" %
                      (caption, [(b["caption"], [c.get("text") for c in b["controls"]]) for b in boxes]))
    if len(answered) != 1:
        faults.append("the box was not answered: %r" % log)
    return faults


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--launcher", "--probe", "--stub-probe", "--tools", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    ppmd = entry_file(args.tools, args.work, "PPMd")
    lzma = entry_file(args.tools, args.work, "LZMA")

    # (name, probe, its arguments, the caption of its box)
    cases = [
        ("library-new", args.probe, ["new"], LIBRARY_CAPTION),
        ("library-malloc", args.probe, ["malloc"], LIBRARY_CAPTION),
        ("stub-new", args.stub_probe, ["new"], STUB_CAPTION),
        ("stub-malloc", args.stub_probe, ["malloc"], STUB_CAPTION),
        ("stub-new-after-ppmd", args.stub_probe, ["new", "ppmd"] + ppmd, STUB_CAPTION),
        ("stub-malloc-after-ppmd", args.stub_probe, ["malloc", "ppmd"] + ppmd, STUB_CAPTION),
        ("stub-new-after-lzma", args.stub_probe, ["new", "lzma"] + lzma, STUB_CAPTION),
        ("stub-malloc-after-lzma", args.stub_probe, ["malloc", "lzma"] + lzma, STUB_CAPTION),
    ]
    # The robot answers only the windows of its own run, so runs may overlap.
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(lambda c: run(args, args.work, *c), cases))
    failed = 0
    for (name, *_), faults in zip(cases, results):
        print("%-28s %s" % (name, "FAILED" if faults else "ok"))
        for fault in faults:
            print("    " + fault)
        failed += bool(faults)
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
