#!/usr/bin/env python3
"""The out-of-memory handler shows its box and ends the program with exit code
1, whether operator new or malloc ran out.

usage: oom_test.py --wine QL_WINE --launcher QLLAUNCH --probe OOM_PROBE --work DIR
"""
import argparse
import json
import os
import shutil
import subprocess
import sys

TEXT = "There is not enough memory available for Quolla to continue."


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--launcher", "--probe", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    script = os.path.join(args.work, "script.txt")
    with open(script, "w", encoding="utf-8") as f:
        f.write("default leave\nwindow\ncaption Quolla Self-Extractor\ntext %s\npress 1\n" % TEXT)

    faults = []
    for way in ("new", "malloc"):
        log_path = os.path.join(args.work, way + ".jsonl")
        run = subprocess.run([args.wine, args.launcher, "-timeout", "60", "-script", script,
                              "-log", log_path, "--", args.probe, way],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
        output = run.stdout.decode("utf-8", "replace")
        if run.returncode != 1:
            faults.append("%s: exit code %d, wanted 1 (output %r)" % (way, run.returncode, output))
        with open(log_path, encoding="utf-8") as f:
            log = [json.loads(line) for line in f]
        boxes = [r for r in log if r.get("event") == "window"]
        answered = [r for r in log if r.get("event") == "action" and r.get("do") == "press"]
        if len(boxes) != 1 or not any(TEXT in (c.get("text") or "") for c in boxes[0]["controls"]):
            faults.append("%s: wanted one box with the message, got %r" % (way, boxes))
        if len(answered) != 1:
            faults.append("%s: the box was not answered: %r" % (way, log))

    for fault in faults:
        print("FAULT:", fault)
    print("%d passed, %d failed" % (2 - len({f.split(":")[0] for f in faults}),
                                    len({f.split(":")[0] for f in faults})))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
