"""A removable drive under Wine, and runs whose disk prompts the harness answers.

Drive A: of the Wine session is removable once qldisk has defined it
through Wine's mount manager; the disk in it is the folder its dosdevices
link points at, and the volume label that folder's .windows-label. Wine keeps
a drive's label from when the drive was defined, so a disk change defines the
drive anew (re-pointing the link alone keeps the old disk's label).

A run goes through the launcher and its robot. A rule that needs a disk
change carries "await-file <go file>": once the robot has logged the window
(rule N), the harness changes the disk and creates the go file, and only then
does the robot answer.
"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wintools"))
from launch import KILLED, end_code  # noqa: E402

LETTER = "a"


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Floppy:
    def __init__(self, wine, wine_state, qldisk):
        self.wine = wine
        self.qldisk = qldisk
        self.link = os.path.join(wine_state, "prefix", "dosdevices", LETTER + ":")
        self.empty = os.path.join(wine_state, "no-disk")
        self.eject()

    def insert(self, folder):
        """Puts the "disk" `folder` into the drive; answers its label as read."""
        run = subprocess.run([self.wine, self.qldisk, LETTER, os.path.abspath(folder)],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        if run.returncode != 0 or os.path.realpath(self.link) != os.path.realpath(folder):
            raise RuntimeError("qldisk could not put %s into A: (%s)" % (folder, run.stdout.decode()))
        return run.stdout.decode().strip()

    def eject(self):
        """An empty disk: the drive stays removable for the test's other runs."""
        os.makedirs(self.empty, exist_ok=True)
        self.insert(self.empty)

    def remove(self):
        """The drive gone again: the session's other tests (the wizard's among
        them) see no removable drive."""
        run = subprocess.run([self.wine, self.qldisk, LETTER, "-"],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        if run.returncode != 0 or os.path.lexists(self.link):
            raise RuntimeError("qldisk could not remove A: (%s)" % run.stdout.decode())


class Rule:
    """One robot rule: its match lines, the disk to insert before its answer
    (None: no change), and its answer lines."""

    def __init__(self, match, answer, disk=None):
        self.match = list(match)
        self.answer = list(answer)
        self.disk = disk


def run(wine, launcher, floppy, folder, line, rules, env=(), timeout=120, default="leave"):
    """Runs the raw command line `line` with the rules; answers (exit code,
    log records, launcher output). The run has a temp folder of its own
    (the stub's relaunch copy goes there, not among other tests' files),
    which must be empty again afterwards: a leftover is named in the output."""
    with open(os.path.join(folder, "line.txt"), "w", encoding="utf-8", newline="") as f:
        f.write(line)
    script = ["default " + default]
    go = {}
    for number, rule in enumerate(rules, 1):
        script += ["window"] + rule.match
        if rule.disk is not None:
            go[number] = os.path.join(folder, "go-%d" % number)
            if os.path.exists(go[number]):
                os.remove(go[number])
            script.append("await-file " + winpath(go[number]))
        script += rule.answer
    with open(os.path.join(folder, "script.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(script) + "\n")
    log_path = os.path.join(folder, "log.jsonl")
    if os.path.exists(log_path):
        os.remove(log_path)
    temp = os.path.join(folder, "tmp")
    os.makedirs(temp, exist_ok=True)
    options = ["-env", "TMP=" + winpath(temp), "-env", "TEMP=" + winpath(temp)]
    for item in env:
        options += ["-env", item]
    process = subprocess.Popen([wine, launcher, "-timeout", str(timeout)] + options +
                               ["-script", os.path.join(folder, "script.txt"), "-log", log_path,
                                "-cmdfile", os.path.join(folder, "line.txt")],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    records, done, seen = [], set(), 0
    deadline = time.monotonic() + timeout + 60
    while True:
        ended = process.poll() is not None
        try:
            with open(log_path, encoding="utf-8") as f:
                lines = f.read().split("\n")
        except OSError:
            lines = []
        # The last piece may be a record still being written.
        complete = lines[:-1]
        for text in complete[seen:]:
            record = json.loads(text)
            records.append(record)
            rule = record.get("rule", 0)
            if record["event"] == "window" and rule in go and rule not in done:
                floppy.insert(rules[rule - 1].disk)
                with open(go[rule], "w"):
                    pass
                done.add(rule)
        seen = len(complete)
        if ended:
            break
        if time.monotonic() > deadline:
            process.kill()
            break
        time.sleep(0.1)
    output = process.communicate()[0].decode("utf-8", "replace")
    code = process.returncode
    # Wine may kill the launcher after a run that ended well: the log has the code.
    if code in KILLED and end_code(log_path) is not None:
        code = end_code(log_path)
    left = os.listdir(temp)
    if left:
        output += "\nleft in the temp folder: %r" % left
        code = -1
    return code, records, output


def windows(records):
    return [r for r in records if r["event"] == "window"]


def texts(window):
    return [c["text"] for c in window["controls"]]


def shows(window, text):
    return any(text in t for t in texts(window)) or text in window["caption"]


def tree(folder):
    """{path below folder, with '/': its Unix path} of every file."""
    out = {}
    for base, _, names in os.walk(folder):
        for n in names:
            path = os.path.join(base, n)
            out[os.path.relpath(path, folder).replace(os.sep, "/")] = path
    return out


def report(name, faults):
    """Prints a case's line and faults; true when it failed."""
    print("%-72s %s" % (name, "ok" if not faults else "FAILED"))
    for fault in faults:
        print("    " + fault)
    return bool(faults)
