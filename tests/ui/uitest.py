#!/usr/bin/env python3
"""The real builder's dialogs, help, single instance and cancel under Wine.

The builder stands in the distribution layout (QLSE32.DLL and quollase.chm
beside it) with the logging stand-in of the HTML Help control; its test hook
(QL_TEST_DIALOG, builder/testhooks.h) opens one dialog, the robot answers it,
and the case checks the result file, the robot's record of the window and
the help requests that reached HtmlHelpW.

usage: uitest.py GROUP --wine QL_WINE --launcher QLLAUNCH --builder EXE --helper DLL
                 --help-file CHM --help-standin OCX --work DIR
GROUP: dialogs (the About box, the confirmation dialog, F1 and Help, the four
file dialogs), instance (two builders) or cancel (a cancelled build, the
meter of a build page, a read-only output).
"""
import argparse
import concurrent.futures
import json
import os
import random
import shutil
import stat
import subprocess
import sys
import time
import zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wintools"))
from launch import KILLED, end_code, launch  # noqa: E402

RUN_DEADLINE = 120
BUILT, BUILD_FAILED = 1, 2
HH_INITIALIZE, HH_HELP_CONTEXT = 28, 15
# Help ids of the test hook's dialogs (help/helpids.h).
IDH_DIALOG_TYPE2, IDH_DIALOG_TYPE3 = 894, 896
MSG_BUSY, MSG_REMOVE_EXE = 4070, 1046


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Dialog:
    """One dialog of the test hook, the robot's script for it and what must come of it."""

    def __init__(self, name, hook, script, result, help_ids=(), window=None, files=None, focus=False):
        self.name, self.hook, self.script, self.result = name, hook, script, result
        self.help_ids = list(help_ids)  # HH_HELP_CONTEXT requests, in order
        self.window = window or {}      # caption / texts the recorded window must show
        self.files = files or {}
        self.focus = focus


def dialog_cases():
    f = "{case}"
    files = {"start.zip": b"", "chosen.zip": b"", "notes.diz": b"diz", "app.ico": b"\0\0\1\0"}
    return [
        Dialog("About box", "about",
               "window\ncaption Quolla Self-Extractor 32-bit\ntext Version 4.0 (build 12218)\npress-text OK\n",
               ["about"], window={"caption": "Quolla Self-Extractor 32-bit",
                                  "texts": ["Quolla Self-Extractor\nVersion 4.0 (build 12218)"]}),
        Dialog("confirmation answered OK", "confirm", "window\ntext InstallShield\npress 1\n", ["confirm 1"],
               window={"texts": ["&Yes", "&No", "&Help", "Continue?"]}),
        Dialog("confirmation answered with the other button", "confirm",
               "window\ntext InstallShield\npress 26003\n", ["confirm 26003"]),
        # F1 goes in as a keystroke; the stand-in's viewer shows that it
        # arrived before the dialog is answered.
        Dialog("F1 and Help in a dialog", "confirm",
               "window\ntext InstallShield\ntype 112\nawait Help stand-in 894\npress 9\npress 26003\n",
               ["confirm 26003"], help_ids=[IDH_DIALOG_TYPE2, IDH_DIALOG_TYPE2], focus=True),
        Dialog("Help button of a message box", "box",
               "window\ntext test it now\npress 9\nawait Help stand-in 896\npress 7\n", ["box 7"],
               help_ids=[IDH_DIALOG_TYPE3]),
        # A file dialog fills its controls after it shows: the scripts wait
        # for the filter and the proposed name before they type. (Wine's open
        # dialog adds the default extension only when saving.)
        Dialog("open a Zip file", "browse-zip:" + f + "\\start.zip",
               "window\ncaption Browse\nawait-text Zip files (*.zip,*.zipx)\nawait-text start.zip\n"
               "set 1148 chosen.zip\npress-text Open\n", ["chosen " + f + "\\chosen.zip"], files=files),
        Dialog("open a text file", "browse-text:" + f + "\\start.zip",
               "window\ncaption Browse\nawait-text txt and diz files\nawait-text start.zip\n"
               "set 1148 " + f + "\\notes.diz\npress-text Open\n", ["chosen " + f + "\\notes.diz"], files=files),
        Dialog("open an icon file", "browse-icon:" + f + "\\none.ico",
               "window\ncaption Browse\nawait-text ico files\nawait-text none.ico\n"
               "set 1148 " + f + "\\app.ico\npress-text Open\n",
               ["chosen " + f + "\\app.ico"], files=files),
        Dialog("save a text file", "save-text:" + f + "\\greeting.txt",
               "window\ncaption Browse\nawait-text txt and diz files\nawait-text greeting.txt\n"
               "set 1148 " + f + "\\saved\npress-text Save\n", ["chosen " + f + "\\saved.txt"], files=files),
        Dialog("a file dialog cancelled", "browse-zip:" + f + "\\start.zip",
               "window\ncaption Browse\nawait-text start.zip\npress 2\n", ["none"], files=files),
    ]


class Runner:
    def __init__(self, args):
        self.args = args
        os.makedirs(args.work, exist_ok=True)
        self.dist = os.path.join(args.work, "dist")
        shutil.rmtree(self.dist, ignore_errors=True)
        os.makedirs(self.dist)
        for path, name in ((args.builder, "qlxtra32.exe"), (args.helper, "QLSE32.DLL"),
                           (args.help_file, "quollase.chm"), (args.help_standin, "hhctrl.ocx")):
            shutil.copyfile(path, os.path.join(self.dist, name))
        self.builder = os.path.join(self.dist, "qlxtra32.exe")

    def folder(self, name):
        path = os.path.join(self.args.work, name.replace(" ", "_"))
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def env(self, **values):
        env = dict(os.environ, QL_WINE_OVERRIDES="hhctrl.ocx=n")
        env.update(values)
        return env

    def launch(self, folder, script, hook_env, timeout=RUN_DEADLINE, args=()):
        """The builder under the robot: (exit code, records of the run log, output)."""
        script_path = os.path.join(folder, "script.txt")
        with open(script_path, "w") as f:
            f.write("default leave\n" + script)
        log = os.path.join(folder, "run.jsonl")
        options = ["-timeout", str(timeout), "-script", script_path, "-log", log, "-dir", folder]
        for name, value in hook_env.items():
            options += ["-env", "%s=%s" % (name, value)]
        run = launch(self.args.wine, self.args.launcher, options + ["--", self.builder] + list(args),
                     env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout + 60)
        records = []
        if os.path.exists(log):
            with open(log, encoding="utf-8") as f:
                records = [json.loads(line) for line in f if line.strip()]
        return run.returncode, records, run.stdout.decode("utf-8", "replace")

    def dialog(self, case):
        folder = self.folder(case.name)
        for name, data in case.files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        here = winpath(folder)
        result, help_log = os.path.join(folder, "result.txt"), os.path.join(folder, "help.log")
        code, records, output = self.launch(
            folder, case.script.replace("{case}", here),
            {"QL_TEST_DIALOG": case.hook.replace("{case}", here), "QL_TEST_RESULT": winpath(result),
             "QL_HELP_LOG": winpath(help_log)})
        faults = []
        if code != 0:
            faults.append("exit code %d: %s" % (code, output[-1500:]))
        got = read_lines(result)
        want = [line.replace("{case}", here) for line in case.result]
        if [g.lower() for g in got] != [w.lower() for w in want]:
            faults.append("result %r, wanted %r" % (got, want))
        unused = [r for r in records if r["event"] == "unused"]
        if unused:
            faults.append("the robot's rule answered no window: %r" % unused)
        windows = [r for r in records if r["event"] == "window" and r["rule"] == 1]
        if case.window and windows:
            shown = windows[0]
            texts = [c["text"] for c in shown["controls"]]
            if "caption" in case.window and shown["caption"] != case.window["caption"]:
                faults.append("caption %r" % shown["caption"])
            for text in case.window.get("texts", []):
                if not any(text in t for t in texts):
                    faults.append("no control shows %r: %r" % (text, texts))
        requests = [line.split("\t") for line in read_lines(help_log)]
        contexts = [r for r in requests if int(r[0]) == HH_HELP_CONTEXT]
        chm = winpath(os.path.join(self.dist, "quollase.chm")).lower()
        if [int(r[1]) for r in contexts] != case.help_ids or any(r[2].lower() != chm for r in contexts):
            faults.append("help requests %r, wanted ids %r in %s" % (requests, case.help_ids, chm))
        if case.help_ids and int(requests[0][0]) != HH_INITIALIZE:
            faults.append("the help control was not initialised first: %r" % requests)
        return faults

    # --- two builders

    def instance(self, state):
        """A first builder whose main window is idle, busy, or under a dialog; a second one started
        with a Zip name for its wizard."""
        folder = self.folder("instance " + state)
        first_result = os.path.join(folder, "first.txt")
        # Both builders run on a desktop of their own: the others' builders,
        # running side by side in this Wine session, neither see the first
        # nor are seen by the second.
        desktop = ["-desktop", "qlinstance-" + state]
        first_log = os.path.join(folder, "first.jsonl")
        first = subprocess.Popen(
            [self.args.wine, self.args.launcher, "-timeout", str(RUN_DEADLINE), "-dir", folder, "-log", first_log] +
            desktop +
            ["-env", "QL_TEST_DIALOG=main:" + state, "-env", "QL_TEST_RESULT=" + winpath(first_result),
             "--", self.builder], env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        faults = []
        try:
            deadline = time.time() + RUN_DEADLINE
            while "ready" not in read_lines(first_result):
                if first.poll() is not None or time.time() > deadline:
                    output = first.communicate(timeout=RUN_DEADLINE)[0] if first.poll() is not None else b""
                    return ["the first builder did not come up (exit %r): %r %s" % (
                        first.poll(), read_lines(first_result), output.decode("utf-8", "replace")[-1500:])]
                time.sleep(0.1)
            zip_name = winpath(os.path.join(folder, "hand over.zip"))
            log = os.path.join(folder, "second.log")
            second = launch(self.args.wine, self.args.launcher,
                            ["-timeout", str(RUN_DEADLINE), "-dir", folder] + desktop +
                            ["-env", "QL_MESSAGE_LOG=" + winpath(log), "--", self.builder, zip_name],
                            env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            timeout=RUN_DEADLINE + 60)
            shown = [int(line.split("\t")[0]) for line in read_lines(log)]
            if second.returncode != 0:
                faults.append("second builder ended with %d" % second.returncode)
            wanted = [] if state == "idle" else [MSG_BUSY]
            if shown != wanted:
                faults.append("second builder showed %r, wanted %r" % (shown, wanted))
            if state != "idle":
                with open(first_result + ".stop", "w"):
                    pass
            first.wait(timeout=RUN_DEADLINE)
            first_code = first.returncode
            if first_code in KILLED and end_code(first_log) is not None:
                first_code = end_code(first_log)
            got = read_lines(first_result)
            wanted = {"idle": ["ready", 'handed 1 "%s"' % zip_name],
                      "busy": ["ready"], "dialog": ["ready", "confirm 0"]}[state]
            if got != wanted:
                faults.append("first builder %r, wanted %r" % (got, wanted))
            if first_code != 0:
                faults.append("first builder ended with %d" % first_code)
        finally:
            if first.poll() is None:
                first.kill()
        return faults

    # --- cancel

    def build(self, name, env, make_output=None, page=False):
        """A build of eight stored megabytes, from the command line or, with page, on the stand-in
        of the wizard's build page: (exit code, messages, files before, files after, page lines)."""
        folder = self.folder(name)
        zip_path = os.path.join(folder, "in.zip")
        # Eight stored megabytes: the helper library copies them a megabyte
        # at a time, polling for a cancel before each.
        rnd = random.Random(7)
        with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_STORED) as z:
            for i in range(8):
                z.writestr("part%d.bin" % i, bytes(rnd.getrandbits(8) for _ in range(1 << 20)))
        if make_output:
            make_output(os.path.join(folder, "in.exe"))
        before = sorted(os.listdir(folder))
        log = os.path.join(folder, "messages.log")
        result = os.path.join(self.args.work, name.replace(" ", "_") + ".txt")
        if os.path.exists(result):
            os.remove(result)
        if page:
            env = dict(env, QL_TEST_DIALOG="build-page:" + winpath(zip_path), QL_TEST_RESULT=winpath(result))
        code, _, _ = self.launch(folder, "", dict(env, QL_MESSAGE_LOG=winpath(log)),
                                 args=[] if page else [winpath(zip_path), "-y"])
        shown = [int(line.split("\t")[0]) for line in read_lines(log)]
        # The run's own files aside: the messages, the robot's script and log.
        after = sorted(n for n in os.listdir(folder) if n not in ("messages.log", "script.txt", "run.jsonl"))
        return code, shown, before, after, read_lines(result)

    def cancel(self, which):
        faults = []
        if which == "cancelled":
            code, shown, before, after, _ = self.build("build cancelled half way", {"QL_TEST_CANCEL_AT": "50"})
            if code != BUILD_FAILED or shown:
                faults.append("exit %d, messages %r: wanted a failed build without a message" % (code, shown))
            if after != before:
                faults.append("left behind: %r (before the build: %r)" % (sorted(set(after) - set(before)), before))
        elif which == "not cancelled":
            code, shown, before, after, _ = self.build("build not cancelled", {})
            if code != BUILT or "in.exe" not in after:
                faults.append("exit %d, messages %r, files %r: the same build without a cancel must succeed"
                              % (code, shown, after))
        elif which.startswith("meter"):
            # The library's progress moves the page's meter: to its end, or,
            # cancelled at half the archive, to a little past half of it.
            cancelled = which.endswith("cancelled")
            code, shown, before, after, lines = self.build(
                which, {"QL_TEST_CANCEL_AT": "50"} if cancelled else {}, page=True)
            words = lines[0].split() if lines else []
            done = int(words[5]) if len(words) == 6 else -1
            if cancelled:
                ok = code == BUILD_FAILED and words[:4] == ["built", "0", "range", "65535"] and 0x8000 <= done < 0xFFFF
                ok = ok and after == before
            else:
                ok = code == BUILT and lines[:1] == ["built 1 range 65535 done 65535"] and "in.exe" in after
            if not ok or lines[1:] != ["meter gone, place hidden"] or shown:
                faults.append("exit %d, page %r, messages %r, files %r" % (code, lines, shown, after))
        else:
            def read_only(path):
                with open(path, "wb") as f:
                    f.write(b"old")
                os.chmod(path, stat.S_IREAD)
            code, shown, before, after, _ = self.build("read-only output", {}, read_only)
            if code != BUILD_FAILED or shown != [MSG_REMOVE_EXE]:
                faults.append("exit %d, messages %r: wanted a failed build with %d" % (code, shown, MSG_REMOVE_EXE))
            exe = os.path.join(self.args.work, "read-only_output", "in.exe")
            if open(exe, "rb").read() != b"old":
                faults.append("the read-only output was changed")
        return faults


def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip()]


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=["dialogs", "instance", "cancel"])
    for name in ("wine", "launcher", "builder", "helper", "help-file", "help-standin", "work"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args(argv)
    runner = Runner(args)
    if args.group == "dialogs":
        cases = [(c.name, runner.dialog, c) for c in dialog_cases()]
    elif args.group == "instance":
        cases = [("two builders, the first " + s, runner.instance, s) for s in ("idle", "busy", "dialog")]
    else:
        cases = [(w, runner.cancel, w) for w in ("cancelled", "not cancelled", "meter on a build page",
                                                   "meter on a build page, cancelled", "read-only output")]
    failed = 0
    # Cases that type keys want the focus: they run alone, after the others.
    parallel = [c for c in cases if not getattr(c[2], "focus", False)]
    alone = [c for c in cases if getattr(c[2], "focus", False)]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        results = list(zip(parallel, pool.map(lambda c: c[1](c[2]), parallel)))
    results += [(c, c[1](c[2])) for c in alone]
    for (name, _, _), faults in results:
        print("%s %s" % ("ok  " if not faults else "FAIL", name))
        for fault in faults:
            print("     " + fault)
        failed += bool(faults)
    print("%d of %d cases failed" % (failed, len(cases)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
