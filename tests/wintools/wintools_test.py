#!/usr/bin/env python3
"""Tests of the launcher and its robot, run natively; the launcher runs under Wine.

usage: wintools_test.py CASE --wine QL_WINE --launcher QLLAUNCH --fake QLFAKE --work DIR
CASE is one of cmdline, errors, grandchild, deadline, messagebox, dialog.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wintools"))
from launch import launch  # noqa: E402

DEADLINE_EXIT = 124
FAILURE_EXIT = 125


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Case:
    def __init__(self, args):
        self.args = args
        self.work = args.work
        self.faults = []
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.fake = winpath(args.fake)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8", newline="") as f:
            f.write(text)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), encoding="utf-8", newline="") as f:
            return f.read()

    def launch(self, options, env=None):
        """Runs the launcher; answers its exit code and its output."""
        run = launch(self.args.wine, self.args.launcher, options,
                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=240)
        return run.returncode, run.stdout.decode("utf-8", "replace")

    def log(self, name="log.jsonl"):
        with open(self.path(name), encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def expect(self, condition, what):
        if not condition:
            self.faults.append(what)
        return condition

    def equal(self, got, wanted, what):
        return self.expect(got == wanted, "%s: got %r, wanted %r" % (what, got, wanted))


def events(log, kind):
    return [record for record in log if record["event"] == kind]


def control(window, control_id):
    for c in window["controls"]:
        if c["id"] == control_id:
            return c
    return None


def texts(window):
    return [c["text"] for c in window["controls"]]


def case_cmdline(t):
    """The raw command line arrives exactly, the exit code comes back, and
    the environment and folder options apply."""
    quoted = '"%s"' % t.fake
    # (reason, command line, exit code, launcher options, wanted QLFAKE_VAR)
    table = [
        ("nothing after the program", quoted, 0, [], "from-unix"),
        ("an odd double quote", quoted + ' odd "quote', 3, ["-unset", "QLFAKE_VAR"], "(unset)"),
        ("a backslash before the closing quote", quoted + r' "C:\Out Dir\" next', 42,
         ["-env", "QLFAKE_VAR=C:\\Out Dir\\"], "C:\\Out Dir\\"),
        ("blanks and a tab as they are", quoted + '   two  blanks\tand a tab  ', 7,
         ["-env", "QLFAKE_VAR="], ""),
        ("non-ASCII, beyond the BMP too", quoted + " Grüße Ωmega ✓ 𝄞", 200, [], "from-unix"),
        ("the program unquoted, stub switches", t.fake + r' -args="a \"b\" c" run=1 shortcut="Z:\x y\s.exe"',
         255, [], "from-unix"),
        ("an exit code beyond 8 bits", quoted + " \\\\server\\share\\\\", 1000, [], "from-unix"),
    ]
    env = dict(os.environ, QLFAKE_VAR="from-unix")
    for number, (reason, line, code, options, variable) in enumerate(table):
        echo = t.path("echo%d.txt" % number)
        common = ["-env", "QLFAKE_ECHO=" + winpath(echo), "-env", "QLFAKE_EXIT=%d" % code,
                  "-log", t.path("log%d.jsonl" % number)] + options
        if number == 0:
            source = ["-cmdhex", line.encode("utf-8").hex()]
        else:
            source = ["-cmdfile", t.write("line%d.txt" % number, line)]
        if number == 1:
            common += ["-dir", t.work]
        rc, output = t.launch(common + source, env)
        if not t.equal(rc, code & 0xFF, reason + ": exit code (output %r)" % output):
            continue
        echoed = t.read("echo%d.txt" % number).split("\n")
        t.equal(echoed[0], line, reason + ": command line")
        t.equal(echoed[2], variable, reason + ": QLFAKE_VAR")
        if number == 1:
            t.equal(echoed[1].rstrip("\\"), winpath(t.work), reason + ": current folder")
        t.equal(t.log("log%d.jsonl" % number)[-1], {"event": "end", "code": code},
                reason + ": end record")

    # The form after "--" quotes each argument as the C runtime reads it back.
    rc, output = t.launch(["-env", "QLFAKE_ECHO=" + winpath(t.path("echo-args.txt")), "--",
                           t.args.fake, "a b", 'c"d', "e\\", ""], env)
    t.equal(rc, 0, "quoted arguments: exit code (output %r)" % output)
    if rc == 0:
        t.equal(t.read("echo-args.txt").split("\n")[0], t.fake + r' "a b" "c\"d" e\ ""',
                "quoted arguments: command line")


def case_errors(t):
    """The launcher's own failures end with 125 and say why."""
    script = t.write("bad.txt", "default leave\nwindow\npress OK\n")
    table = [
        ("no command line", [], "no command line"),
        ("a program that is not there", ["-cmdhex", "".join("%02x" % b for b in b"Z:\\no\\such.exe")],
         "cannot start the program"),
        ("a script with a bad line", ["-script", script, "--", t.args.fake], "line 3"),
        ("a timeout that is not a number", ["-timeout", "soon", "--", t.args.fake], "-timeout"),
        ("a hex line of odd length", ["-cmdhex", "616"], "hex"),
    ]
    for reason, options, message in table:
        rc, output = t.launch(options)
        t.equal(rc, FAILURE_EXIT, reason + ": exit code")
        t.expect(message in output, "%s: %r not in the output %r" % (reason, message, output))


def case_grandchild(t):
    """The launcher waits for a grandchild that outlives its parents and
    returns the first program's exit code."""
    touched = t.path("touched.txt")
    rc, output = t.launch(["-log", t.path("log.jsonl"), "--", t.args.fake, "code", "9",
                           "spawn", "spawn", "sleep", "1500", "touch", winpath(touched)])
    t.equal(rc, 9, "exit code (output %r)" % output)
    t.expect(os.path.exists(touched), "the grandchild had not run when the launcher ended")
    log = t.log()
    t.equal([e["code"] for e in events(log, "exit")], [9, 0, 0], "exit codes, in order")
    t.equal(log[-1], {"event": "end", "code": 9}, "end record")


def case_deadline(t):
    """A run that never ends is ended at the deadline, children included."""
    rc, output = t.launch(["-timeout", "8", "-log", t.path("log.jsonl"), "--", t.args.fake,
                           "spawnwait", "hang"])
    t.equal(rc, DEADLINE_EXIT, "exit code")
    t.expect("deadline of 8 s" in output, "no deadline message in %r" % output)
    log = t.log()
    # Both processes were ended by the launcher, with its code.
    t.equal([e["code"] for e in events(log, "exit")], [DEADLINE_EXIT, DEADLINE_EXIT], "exit codes")
    t.equal(log[-1], {"event": "deadline", "seconds": 8}, "last record")


def case_messagebox(t):
    """The robot records message boxes, presses a scripted button by its text
    and answers an unscripted box by default."""
    script = t.write("script.txt", "\n".join([
        "# unscripted windows: closed after 300 ms",
        "default cancel 300",
        "window",
        "class #32770",
        "caption Quolla Test",
        "text Extract all",
        "press-text No",
        "# both repeated boxes, by one rule",
        "window",
        "caption Repeated",
        "repeat",
        "press 1",
        ""]))
    results = t.path("results.txt")
    rc, output = t.launch(["-script", script, "-log", t.path("log.jsonl"), "--", t.args.fake,
                           "out", winpath(results),
                           "box", "Quolla Test", "Extract all files?", "3",   # MB_YESNOCANCEL
                           "box", "Second Box", "Nobody expects this one.", "0",  # MB_OK
                           "box", "Repeated", "Once", "1",  # MB_OKCANCEL
                           "box", "Repeated", "Twice", "1",
                           "code", "4"])
    t.equal(rc, 4, "exit code (output %r)" % output)
    if not t.expect(os.path.exists(results), "no results"):
        return
    answers = t.read("results.txt").split("\n")
    # A closed MB_OK box answers IDOK on Windows, IDCANCEL under Wine.
    t.expect(answers[:1] == ["box 7"] and answers[1] in ("box 1", "box 2") and
             answers[2:] == ["box 1", "box 1", ""],
             "answers (IDNO, the closed box, IDOK twice): %r" % answers)
    log = t.log()
    windows = events(log, "window")
    if not t.equal([(w["caption"], w["rule"]) for w in windows],
                   [("Quolla Test", 1), ("Second Box", 0), ("Repeated", 2), ("Repeated", 2)],
                   "windows and their rules"):
        return
    first, second = windows[:2]
    t.equal(first["class"], "#32770", "first box's class")
    t.expect("Extract all files?" in texts(first), "first box texts %r" % texts(first))
    t.expect(first["image"].lower().endswith("qlfake.exe"), "image %r" % first["image"])
    t.expect("Nobody expects this one." in texts(second), "second box texts %r" % texts(second))
    actions = [(a["seq"], a["rule"], a["do"], a.get("id")) for a in events(log, "action")]
    t.equal(actions, [(1, 1, "press", 7), (2, 0, "close", None), (3, 2, "press", 1),
                      (4, 2, "press", 1)], "actions")
    t.equal(sorted(g["seq"] for g in events(log, "gone")), [1, 2, 3, 4], "gone records")
    t.equal(events(log, "unused"), [], "unused rules")
    t.equal(log[-1], {"event": "end", "code": 4}, "end record")


def case_dialog(t):
    """The robot fills an edit field, ticks a check box and presses OK, which
    is enabled only by the text; then answers the box that OK opens. The run
    ends by itself."""
    folder = 'C:\\Out Dir\\Ünïcode "quoted"'
    script = t.write("script.txt", "\n".join([
        "default leave",
        "window",
        "caption Fake Dialog",
        "set 101 " + folder,
        "check 102",
        "press 1",
        "window",
        "caption Fake Done",
        "text Files extracted.",
        "press 1",
        "window",
        "caption Never Shown",
        "press 2",
        ""]))
    results = t.path("results.txt")
    rc, output = t.launch(["-script", script, "-log", t.path("log.jsonl"), "--", t.args.fake,
                           "out", winpath(results), "dialog", "code", "5"])
    t.equal(rc, 5, "exit code (output %r)" % output)
    if t.expect(os.path.exists(results), "no results"):
        t.equal(t.read("results.txt"), "dialog 1 folder=%s overwrite=1\n" % folder, "dialog result")
    log = t.log()
    windows = events(log, "window")
    if not t.equal([(w["caption"], w["rule"]) for w in windows],
                   [("Fake Dialog", 1), ("Fake Done", 2)], "windows"):
        return
    dialog = windows[0]
    # Recorded as shown, before the robot touched it.
    t.equal((control(dialog, 101) or {}).get("text"), "", "folder field at first")
    t.equal((control(dialog, 102) or {}).get("check"), 0, "check box at first")
    t.equal((control(dialog, 1) or {}).get("enabled"), False, "OK at first")
    t.expect("Unzip to folder:" in texts(dialog), "dialog texts %r" % texts(dialog))
    actions = [(a["seq"], a["do"], a.get("id"), a.get("text")) for a in events(log, "action")]
    t.equal(actions, [(1, "set", 101, folder), (1, "check", 102, None), (1, "press", 1, None),
                      (2, "press", 1, None)], "actions")
    t.equal(events(log, "unused"), [{"event": "unused", "rule": 3, "line": 11}], "unused rules")
    t.equal(log[-1], {"event": "end", "code": 5}, "end record")


CASES = {
    "cmdline": case_cmdline,
    "errors": case_errors,
    "grandchild": case_grandchild,
    "deadline": case_deadline,
    "messagebox": case_messagebox,
    "dialog": case_dialog,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--wine", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--fake", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    t = Case(args)
    CASES[args.case](t)
    for fault in t.faults:
        print("FAULT:", fault)
    print("%s: %s" % (args.case, "failed" if t.faults else "passed"))
    return 1 if t.faults else 0


if __name__ == "__main__":
    sys.exit(main())
