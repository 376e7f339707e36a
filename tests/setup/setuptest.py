#!/usr/bin/env python3
"""The builder's installation environment under Wine, on the real builder, in
a Wine session of its own: the settings report (-dump), the main archiver's
settings in each of its generations, uninstall, the post-install step (-r,
-nor), the Start-menu group (-setupSM) and the common-controls version, and
the Windows 9x paths of deletion at restart.

Every case starts from a prefix cleaned of everything the builder and the
main archiver keep, sets up what it needs (registry values, ini files, files
beside the builder), runs the builder with its message boxes recorded and
answered (QL_MESSAGE_LOG, QL_MESSAGE_ANSWERS), and checks the exit code, the
boxes in order and what the run left in the prefix.

usage: setuptest.py GROUP --wine QL_WINE --wine-state DIR --builder EXE --helper DLL
                    --help-file CHM --envreg EXE --fake EXE --launcher EXE
                    --fixtures DIR --work DIR
GROUP: dump, archiver, uninstall, postinstall, startmenu or win98.
"""
import argparse
import glob
import json
import os
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "builder"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "wintools"))
from buildertest import read_message_log, read_options, winpath  # noqa: E402
from launch import KILLED, launch  # noqa: E402

RUN_DEADLINE = 240
# Exit codes (README.md).
NOTHING_TO_BUILD, REFUSED = 0, 3
# Stands last in a run's expected boxes where the builder goes on to its
# wizard (which the robot's default answer cancels).
WIZARD = "wizard"
SETUP_CAPTION = "Quolla Self-Extractor Setup"
DONE, RUN_NOW = 2, 6002

MAKER = r"SOFTWARE\Ostrel Zivevevoz"
BUILDER_KEY = MAKER + r"\Quolla Self-Extractor"
ARCHIVER_KEY = r"HKCU\SOFTWARE\Ostrel Zivevevoz\Quolla"
SESSION_MANAGER = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager"
PENDING = "PendingFileRenameOperations"
APP_PATHS = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quolla Self-Extractor"
SHELL_COMMAND = r"HKCR\quolla\shell\open\command"
COMMON_START_MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu"
GROUP = "Quolla Self-Extractor"
SHORTCUT = "Quolla Self-Extractor.lnk"
MANUAL = "Online Manual.lnk"
# The files of a distribution the uninstall deletes when they carry the
# builder's time, and the ones it schedules for deletion at restart.
RESTART_FILES = ["qlxtra32.exe", "qlse32.dll", "qlcrypt32.dll", "setup.exe"]
QUESTION_ARCHIVER = 4740
UNINSTALL_YES = "4010=yes,4810=yes"


def logged(text):
    """A text as the message log holds it: CR, LF and TAB escaped, nothing
    else (so a path's "\\t" reads like a TAB there: texts are compared in
    this form)."""
    return text.replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def equal(got, wanted, what):
    check(got == wanted, "%s: got %r, wanted %r" % (what, got, wanted))


def read_lnk(path):
    """The target and the strings of a shell link file (the published .lnk
    layout): {"target", "description", "working", "arguments", "icon"}."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:4] == b"L\0\0\0", "%s is no shell link" % path)
    flags = struct.unpack_from("<I", data, 20)[0]
    unicode = flags & 0x80
    at = 0x4C
    if flags & 0x01:  # the item list
        at += 2 + struct.unpack_from("<H", data, at)[0]
    out = {}
    if flags & 0x02:  # the link information: the local path of the target
        size, header, _, _, base = struct.unpack_from("<IIIII", data, at)
        if header >= 0x24:
            wide = struct.unpack_from("<I", data, at + 28)[0]
            end = data.index(b"\0\0", at + wide)
            end += (end - at - wide) % 2
            out["target"] = data[at + wide:end].decode("utf-16-le")
        else:
            out["target"] = data[at + base:data.index(b"\0", at + base)].decode("cp1252")
        at += size
    for bit, name in ((0x04, "description"), (0x08, "relative"), (0x10, "working"),
                      (0x20, "arguments"), (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            width = 2 if unicode else 1
            raw = data[at + 2:at + 2 + count * width]
            # Wine counts the terminator too.
            out[name] = raw.decode("utf-16-le" if unicode else "cp1252").rstrip("\0")
            at += 2 + count * width
    return out


PENDING_QUERY = ("get", SESSION_MANAGER, PENDING)


def pending_of(answer):
    """The pending restart operations in an answer to PENDING_QUERY, as
    (source, target) pairs; None without the value."""
    if not answer["exists"]:
        return None
    # Each string ends with a NUL; an odd empty string left at the end is the
    # value's final terminator.
    strings = answer["text"].split("\0")[:-1]
    if len(strings) % 2 == 1 and strings[-1] == "":
        strings.pop()
    return [(strings[i], strings[i + 1]) for i in range(0, len(strings) - 1, 2)]


class Run:
    def __init__(self, code, shown, options, events=None):
        self.code = code
        self.shown = shown  # [(id, answer, text as logged)]
        self.ids = [s[0] for s in shown]
        self.options = options
        # Under the launcher: the windows its robot saw and the processes
        # that ended.
        events = events or []
        self.windows = [e for e in events if e["event"] == "window"]
        self.exits = [e for e in events if e["event"] == "exit"]

    def expect(self, code, ids):
        if ids and ids[-1] == WIZARD:
            ids = ids[:-1]
            equal(self.options.get("stage"), "wizard", "the stage the builder reached")
        equal(self.ids, ids, "boxes")
        equal(self.code, code, "exit code (boxes %r)" % self.shown)

    def text(self, box_id):
        return next(s[2] for s in self.shown if s[0] == box_id)


class Prefix:
    def __init__(self, args):
        self.args = args
        self.root = os.path.join(args.wine_state, "prefix")
        users = [u for u in glob.glob(os.path.join(self.root, "drive_c", "users", "*"))
                 if os.path.basename(u).lower() != "public" and not os.path.islink(u)]
        check(users, "no user profile in the prefix")
        self.user = os.path.basename(users[0])
        self.user_start_menu = (r"C:\users\%s\AppData\Roaming\Microsoft\Windows\Start Menu" % self.user)
        os.makedirs(args.work, exist_ok=True)
        self.answers = 0
        # Operations that change the prefix wait for the next envreg run, so
        # that cleaning, setting up and asking go in as few Wine processes as
        # possible.
        self.staged = []

    def unix(self, path):
        """A Windows path of the prefix as a path here."""
        drive, rest = path[:2].upper(), path[2:].replace("\\", "/").lstrip("/")
        if drive == "Z:":
            return "/" + rest
        check(drive == "C:", "no drive for %s" % path)
        return os.path.join(self.root, "drive_c", rest)

    def windows(self, name):
        return self.unix("C:\\windows\\" + name)

    def wine(self, args, env=None, timeout=RUN_DEADLINE):
        return subprocess.run([self.args.wine] + args, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=timeout)

    def stage(self, *ops):
        """Operations (tuples) for envreg's next run."""
        self.staged += ops

    def flush(self):
        if self.staged:
            self.reg()

    def reg(self, *ops):
        """Runs envreg with the staged operations and these (tuples); the
        answers of its queries."""
        ops = self.staged + list(ops)
        self.staged = []
        self.answers += 1
        out = os.path.join(self.args.work, "envreg-%d.jsonl" % self.answers)
        if os.path.exists(out):
            os.remove(out)
        args = [self.args.envreg, "out", winpath(out)]
        for op in ops:
            args += list(op)
        run = self.wine(args)
        answers = []
        if os.path.exists(out):
            with open(out, encoding="utf-8") as f:
                answers = [json.loads(line) for line in f]
        # Its own end record stands for an exit code that Wine's kill of
        # an ended process took away.
        ended = answers and "end" in answers[-1]
        code = answers.pop()["end"] if ended and run.returncode in KILLED else run.returncode
        check(code == 0 and ended, "envreg failed (%d): %s" % (run.returncode,
                                                                run.stdout.decode("utf-8", "replace")))
        errors = [a for a in answers if "error" in a]
        check(not errors, "envreg: %r" % errors)
        return [a for a in answers if "end" not in a]

    def value(self, key, name):
        """A value's text (a string without its terminator), or None."""
        answer = self.reg(("get", key, name))[0]
        if not answer["exists"]:
            return None
        text = answer["text"]
        if answer["type"] in (1, 2) and text.endswith("\0"):
            text = text[:-1]
        return text

    def keys(self, *keys):
        return {a["key"]: a["exists"] for a in self.reg(*[("key", k) for k in keys])}

    def pending(self):
        """The pending operations as (source, target) pairs, or None."""
        return pending_of(self.reg(PENDING_QUERY)[0])

    def start_menus(self):
        return [COMMON_START_MENU, self.user_start_menu]

    def clean(self):
        """Stages the removal of everything the builder and the archiver keep
        in the registry, and removes their files at once."""
        ops = [("delete", root + "\\" + MAKER) for root in ("HKCU", "HKLM")]
        ops += [("delete", k) for k in (r"HKCR\quolla", r"HKCR\QuollaSE.RegFile", r"HKCR\.semul",
                                        APP_PATHS + r"\quollase.exe", APP_PATHS + r"\qlxtra32.exe",
                                        UNINSTALL_KEY)]
        ops += [("unset", SESSION_MANAGER, PENDING), ("ini", "win.ini", "quolla", "-", "-"),
                ("ini", "win.ini", "extensions", "zip", "-")]
        self.stage(*ops)
        for name in ("quolla.ini", "quolla32.ini", "wininit.ini"):
            if os.path.exists(self.windows(name)):
                os.remove(self.windows(name))
        for menu in self.start_menus():
            group = self.unix(menu + "\\Programs\\" + GROUP)
            if os.path.isdir(group):
                shutil.rmtree(group)
            elif os.path.exists(group):
                os.remove(group)
            link = self.unix(menu + "\\" + SHORTCUT)
            if os.path.exists(link):
                os.remove(link)

    def lay_out(self, name, files=None):
        """A folder with the builder, its helper library and help file, and
        the files given (name -> bytes); every file gets the builder's time."""
        folder = os.path.join(self.args.work, name)
        if os.path.isdir(folder):
            for path in glob.glob(os.path.join(folder, "*")):
                os.chmod(path, 0o755)
            shutil.rmtree(folder)
        os.makedirs(folder)
        shutil.copyfile(self.args.builder, os.path.join(folder, "qlxtra32.exe"))
        shutil.copyfile(self.args.helper, os.path.join(folder, "QLSE32.DLL"))
        shutil.copyfile(self.args.help_file, os.path.join(folder, "quollase.chm"))
        for file_name, data in (files or {}).items():
            with open(os.path.join(folder, file_name), "wb") as f:
                f.write(data)
        self.date_like_builder(folder, os.listdir(folder))
        return folder

    @staticmethod
    def date_like_builder(folder, names, builder_time=1600000000):
        for n in names:
            os.utime(os.path.join(folder, n), (builder_time, builder_time))

    def run(self, folder, args, answers="", script=None):
        """Runs the builder in the folder under the launcher, which waits for
        every process the run starts; its robot follows the script's rules."""
        self.flush()
        log = os.path.join(folder, "messages.log")
        dump = os.path.join(folder, "options.txt")
        # The launcher's files beside the folder, where the uninstall leaves
        # them alone.
        events_path = folder.rstrip("/") + ".run.jsonl"
        for path in (log, dump, events_path):
            if os.path.exists(path):
                os.remove(path)
        variables = {"QL_MESSAGE_LOG": winpath(log), "QL_OPTIONS_DUMP": winpath(dump),
                     "QL_MESSAGE_ANSWERS": answers}
        builder = os.path.join(folder, "qlxtra32.exe")
        # Always under the launcher, whose run log keeps the exit code when
        # Wine kills the ended builder on a loaded machine; a window that no
        # rule answers is cancelled.
        script_path = folder.rstrip("/") + ".script.txt"
        with open(script_path, "w", encoding="utf-8") as f:
            f.write("\n".join(["default cancel 5000"] + (script or [])) + "\n")
        options = ["-timeout", str(RUN_DEADLINE - 30), "-dir", folder, "-script", script_path,
                   "-log", events_path]
        for name, value in variables.items():
            options += ["-env", "%s=%s" % (name, value)]
        run = launch(self.args.wine, self.args.launcher, options + ["--", builder] + args,
                     cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                     timeout=RUN_DEADLINE)
        shown = [tuple(entry) for entry in read_message_log(log)]
        options = read_options(dump)
        events = []
        if os.path.exists(events_path):
            with open(events_path, encoding="utf-8") as f:
                events = [json.loads(line) for line in f if line.strip()]
        return Run(run.returncode, shown, options, events)


class FakeWindow:
    """The fake program showing a top-level window (of the main archiver, or
    of another builder) for as long as the block runs."""

    def __init__(self, prefix, name, window_class, prop="-"):
        self.prefix = prefix
        folder = os.path.join(prefix.args.work, "fake-" + name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        self.results = os.path.join(folder, "results.txt")
        self.stop = os.path.join(folder, "stop")
        self.args = [prefix.args.fake, "out", winpath(self.results), "window", window_class,
                     name, prop, winpath(self.stop)]

    def __enter__(self):
        self.process = subprocess.Popen([self.prefix.args.wine] + self.args, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            if os.path.exists(self.results):
                with open(self.results, encoding="utf-8") as f:
                    lines = f.read().split()
                check("failed" not in lines, "the fake window could not be made")
                if "window" in lines:
                    return self
            if self.process.poll() is not None:
                raise Failure("the fake program ended before its window showed")
            time.sleep(0.1)
        raise Failure("the fake window did not show")

    def __exit__(self, *exc):
        with open(self.stop, "w") as f:
            f.write("stop")
        try:
            self.process.wait(timeout=120)
        except subprocess.TimeoutExpired:
            self.process.kill()
        return False


# ---------------------------------------------------------------------------
# -dump


def dump_group(prefix):
    fixtures = prefix.args.fixtures

    def report(folder):
        with open(os.path.join(folder, "qlxtra32.txt"), "rb") as f:
            return f.read()

    def fixture():
        folder = prefix.lay_out("dump-fixture")
        prefix.flush()
        # Importing again is harmless where Wine killed the ended reg.exe.
        for _ in range(3):
            run = prefix.wine(["reg", "import", winpath(os.path.join(fixtures, "dump.reg"))])
            if run.returncode not in KILLED:
                break
        check(run.returncode == 0, "reg import: %s" % run.stdout.decode("utf-8", "replace"))
        prefix.run(folder, ["-dump"]).expect(NOTHING_TO_BUILD, [1081])
        with open(os.path.join(fixtures, "dump-expected.txt"), "rb") as f:
            wanted = f.read()
        got = report(folder)
        if got != wanted:
            with open(os.path.join(folder, "got.txt"), "wb") as f:
                f.write(got)
        check(got == wanted, "the report differs from dump-expected.txt (see %s/got.txt)" % folder)

    def maker_without_subkeys():
        # The maker key's own values are never listed.
        folder = prefix.lay_out("dump-maker-only")
        prefix.stage(("set", "HKCU\\" + MAKER, "Maker", "sz", "own value"))
        prefix.run(folder, ["-dump"]).expect(NOTHING_TO_BUILD, [1081])
        equal(report(folder), b"", "report of a maker key without subkeys")

    def no_maker_key():
        folder = prefix.lay_out("dump-no-maker")
        with open(os.path.join(folder, "qlxtra32.txt"), "wb") as f:
            f.write(b"an older report\r\n")
        prefix.run(folder, ["-dump"]).expect(NOTHING_TO_BUILD, [1081])
        equal(report(folder), b"", "report without a maker key")

    def not_writable():
        folder = prefix.lay_out("dump-not-writable")
        os.makedirs(os.path.join(folder, "qlxtra32.txt"))
        run = prefix.run(folder, ["-dump"])
        run.expect(REFUSED, [1081, 1082])
        check("qlxtra32.txt" in run.text(1082), "1082 names the report: %r" % run.text(1082))

    return [fixture, maker_without_subkeys, no_maker_key, not_writable]


# ---------------------------------------------------------------------------
# The main archiver's generations


class Generation:
    def __init__(self, name, setup, store):
        self.name = name
        self.setup = setup  # (prefix, version texts, setting) -> None
        self.store = store  # where the setting lives: ("get", key, name) or ("iniget", file, ...)

    def setting(self, answer):
        """The setting from the answer to the store's query; None when absent."""
        if self.store[0] == "iniget":
            return answer["text"] or None
        return answer["text"].rstrip("\0") if answer["exists"] else None

    def cleared(self, answer):
        # Uninstall removes the key from an ini file; the registry keeps an
        # empty value.
        if self.store[0] == "iniget":
            return self.setting(answer) is None
        return answer["exists"] and self.setting(answer) == ""


def archiver_in_registry(prefix, versions, setting):
    ops = [("set", ARCHIVER_KEY + r"\winini", k, "sz", v) for k, v in versions.items()]
    ops.append(("set", ARCHIVER_KEY + r"\programs", "zip2exe", "sz", setting))
    # The registry key wins over a shell command that names the 16-bit archiver.
    ops.append(("set", SHELL_COMMAND, "@", "sz", r"C:\QUOLLA\QUOLLA.EXE %1"))
    prefix.stage(*ops)


def archiver_in_ini(ini, command=None, extension=None, opts=False):
    def setup(prefix, versions, setting):
        ops = [("ini", "win.ini", "quolla", k, v) for k, v in versions.items()]
        ops.append(("ini", ini, "programs", "zip2exe", setting))
        if command:
            ops.append(("set", SHELL_COMMAND, "@", "sz", command))
        if extension:
            ops.append(("ini", "win.ini", "extensions", "zip", extension))
        if opts:
            ops.append(("ini", ini, "quolla", "opts", "x"))
        prefix.stage(*ops)
    return setup


REGISTRY_STORE = ("get", ARCHIVER_KEY + r"\programs", "zip2exe")
INI32_STORE = ("iniget", "quolla32.ini", "programs", "zip2exe")
INI16_STORE = ("iniget", "quolla.ini", "programs", "zip2exe")
VERSION_RECORD = ("get", "HKLM\\" + BUILDER_KEY + r"\Ver.", "@")
GENERATIONS = [
    Generation("registry", archiver_in_registry, REGISTRY_STORE),
    Generation("32-bit-shell-command",
               archiver_in_ini("quolla32.ini", command=r'"D:\Tools\QUOLLA32.EXE" "%1"'), INI32_STORE),
    Generation("32-bit-both-names",
               archiver_in_ini("quolla32.ini", command=r"C:\Q\quolla.exe /with C:\Q\Quolla32.exe %1"),
               INI32_STORE),
    Generation("32-bit-ini-only", archiver_in_ini("quolla32.ini", opts=True), INI32_STORE),
    Generation("16-bit-shell-command", archiver_in_ini("quolla.ini", command=r"C:\QUOLLA\QUOLLA.EXE %1"),
               INI16_STORE),
    Generation("16-bit-win-ini-extension",
               archiver_in_ini("quolla.ini", extension=r"C:\QUOLLA\QUOLLA.EXE ^.zip"), INI16_STORE),
]
OLD_PROGRAM = r"C:\Tools\OLDSE\MAKEEXE.EXE"
OLD_VERSIONS = {"version": "5.5", "win32_version": "5.5"}


def archiver_group(prefix):
    cases = []

    def registration(generation, uninstall):
        # First start of this version: the question; yes writes the builder's
        # path where the generation keeps it; uninstall clears it again.
        def case():
            folder = prefix.lay_out("archiver-" + generation.name)
            generation.setup(prefix, OLD_VERSIONS, OLD_PROGRAM)
            own = winpath(os.path.join(folder, "qlxtra32.exe"))
            prefix.run(folder, [], "%d=yes" % QUESTION_ARCHIVER).expect(
                NOTHING_TO_BUILD, [QUESTION_ARCHIVER, WIZARD])
            store, record = prefix.reg(generation.store, VERSION_RECORD)
            equal(generation.setting(store), own, "the setting after yes")
            equal(record["text"].rstrip("\0"), "4.0", "the version record")
            if not uninstall:
                return
            prefix.run(folder, ["-uninstall"], UNINSTALL_YES).expect(NOTHING_TO_BUILD, [4010, 4810, 480])
            store = prefix.reg(generation.store)[0]
            check(generation.cleared(store), "uninstall left the setting %r" % generation.setting(store))
        case.__name__ = "registration-" + generation.name
        return case

    # Uninstall clears the setting in each of the three stores.
    cleared_in = ("registry", "32-bit-shell-command", "16-bit-shell-command")
    cases += [registration(g, g.name in cleared_in) for g in GENERATIONS]

    def no_archiver():
        folder = prefix.lay_out("archiver-none")
        prefix.run(folder, []).expect(NOTHING_TO_BUILD, [WIZARD])
        equal(prefix.value("HKLM\\" + BUILDER_KEY + r"\Ver.", "@"), "4.0", "the version record")
        # The recorded version is this one's: a second start asks nothing.
        prefix.run(folder, []).expect(NOTHING_TO_BUILD, [WIZARD])

    def version_test(name, generation, versions, setting, asked):
        # A setting naming 5.6 is left alone when the archiver's recorded
        # version (read from the generation's own key) is 5.6 or later;
        # "R5.6" always.
        def case():
            folder = prefix.lay_out("archiver-" + name)
            generation.setup(prefix, versions, setting)
            ids = [QUESTION_ARCHIVER, WIZARD] if asked else [WIZARD]
            prefix.run(folder, [], "%d=no" % QUESTION_ARCHIVER).expect(NOTHING_TO_BUILD, ids)
        case.__name__ = "version-test-" + name
        return case

    by_name = {g.name: g for g in GENERATIONS}
    se56 = r"C:\QSE5.6\MAKEEXE.EXE"
    cases += [
        no_archiver,
        version_test("registry-6.0", by_name["registry"], {"win32_version": "6.0"}, se56, False),
        version_test("registry-R5.6", by_name["registry"], {"win32_version": "5.5"}, r"C:\R5.6\SE.EXE", False),
        # The 16-bit archiver records "version", the others "win32_version".
        version_test("16-bit-reads-version", by_name["16-bit-shell-command"],
                     {"version": "6.0", "win32_version": "1.0"}, se56, False),
        version_test("32-bit-reads-win32-version", by_name["32-bit-shell-command"],
                     {"version": "9.0", "win32_version": "5.5"}, se56, True),
    ]
    return cases


# ---------------------------------------------------------------------------
# Uninstall

INSTALLED_FILES = {
    "CUSTOM.TXT": b"custom",
    "QUOLLASE.EXE": b"another product's program",  # dated otherwise below: kept
    "README.TXT": b"readme",                       # dated otherwise: deleted all the same
    "quollase.gid": b"index",                      # read-only: deleted all the same
    "mine.txt": b"the user's own file",
}
OTHER_OPERATION = (r"\??\C:\Other\leftover.tmp", "")


def install(prefix, name, archiver_setting=None):
    """A builder installed in a folder of its own, with its registry entries,
    Start-menu group and shortcut, and another program's pending deletion."""
    folder = prefix.lay_out(name, INSTALLED_FILES)
    for other in ("QUOLLASE.EXE", "README.TXT"):
        os.utime(os.path.join(folder, other), (1500000000, 1500000000))
    # A second later is the same time at DOS precision (two seconds).
    os.utime(os.path.join(folder, "CUSTOM.TXT"), (1600000001, 1600000001))
    os.chmod(os.path.join(folder, "quollase.gid"), 0o444)
    own = winpath(os.path.join(folder, "qlxtra32.exe"))
    ops = [("set", UNINSTALL_KEY, "DisplayName", "sz", "Quolla Self-Extractor"),
           ("set", APP_PATHS + r"\quollase.exe", "@", "sz", own),
           ("set", APP_PATHS + r"\qlxtra32.exe", "@", "sz", own),
           ("set", "HKCU\\" + BUILDER_KEY + r"\Wizard", "page", "sz", "1"),
           ("set", "HKCU\\" + MAKER + r"\Other Product", "kept", "sz", "yes"),
           ("set", r"HKCR\QuollaSE.RegFile", "@", "sz", "settings"),
           ("set", r"HKCR\.semul", "@", "sz", "QuollaSE.RegFile"),
           ("set", SESSION_MANAGER, PENDING, "multi", "|".join(OTHER_OPERATION) + "|")]
    if archiver_setting is not None:
        ops.append(("set", ARCHIVER_KEY + r"\programs", "zip2exe", "sz", archiver_setting))
    prefix.stage(*ops)
    # The group and the shortcut as -setupSM and the wizard leave them (their
    # making is tested on its own).
    group = prefix.unix(COMMON_START_MENU + r"\Programs" + "\\" + GROUP)
    os.makedirs(group)
    for name in (MANUAL, SHORTCUT):
        with open(os.path.join(group, name), "wb") as f:
            f.write(b"a shortcut")
    with open(prefix.unix(COMMON_START_MENU + "\\" + SHORTCUT), "wb") as f:
        f.write(b"the builder's Start-menu shortcut")
    return folder, own


def still_installed(prefix, folder):
    check(os.path.exists(os.path.join(folder, "quollase.chm")), "a program file went")
    equal(prefix.keys(UNINSTALL_KEY)[UNINSTALL_KEY], True, "the Uninstall key")
    check(os.path.isdir(prefix.unix(COMMON_START_MENU + r"\Programs" + "\\" + GROUP)), "the group went")


def uninstall_group(prefix):
    def declined_first():
        folder, _ = install(prefix, "uninstall-declined-first")
        prefix.run(folder, ["-uninstall"], "4010=no").expect(NOTHING_TO_BUILD, [4010])
        still_installed(prefix, folder)

    def declined_second():
        folder, _ = install(prefix, "uninstall-declined-second")
        prefix.run(folder, ["-uninstall"], "4010=yes,4810=no").expect(REFUSED, [4010, 4810])
        still_installed(prefix, folder)

    def another_builder_runs():
        folder, _ = install(prefix, "uninstall-builder-runs")
        with FakeWindow(prefix, "Quolla Self-Extractor", "QlFakeBuilder", "Quolla Self-Extractor"):
            prefix.run(folder, ["-uninstall"], UNINSTALL_YES).expect(REFUSED, [4010, 4790])
        still_installed(prefix, folder)

    def archiver_runs():
        # The archiver runs this builder for "Make .Exe File": it must close first.
        folder = os.path.join(prefix.args.work, "uninstall-archiver-runs")
        own = winpath(os.path.join(folder, "qlxtra32.exe"))
        folder, own = install(prefix, "uninstall-archiver-runs", archiver_setting=own)
        with FakeWindow(prefix, "Quolla", "QuollaWClass"):
            prefix.run(folder, ["-uninstall"], UNINSTALL_YES).expect(REFUSED, [4010, 4760])
        still_installed(prefix, folder)
        equal(prefix.value(ARCHIVER_KEY + r"\programs", "zip2exe"), own, "the archiver's setting")

    def whole_and_again():
        # A running archiver that runs another program does not stop it.
        other = r"C:\Tools\OTHERSE.EXE"
        folder, own = install(prefix, "uninstall-whole", archiver_setting=other)
        with FakeWindow(prefix, "Quolla", "QuollaWClass"):
            run = prefix.run(folder, ["-uninstall"], UNINSTALL_YES)
        run.expect(NOTHING_TO_BUILD, [4010, 4810, 480])
        windows_folder = own[:own.rindex("\\")]
        check(logged(windows_folder + "\\QLXTRA32.EXE") in run.text(480), "480 names the builder: %r" % run.text(480))
        left = sorted(os.listdir(folder))
        # The builder itself runs, so it stays for the restart.
        equal(left, ["QUOLLASE.EXE", "messages.log", "mine.txt", "qlxtra32.exe"], "files left")
        wanted = [OTHER_OPERATION]
        for name in RESTART_FILES:
            wanted += [("\\??\\" + windows_folder + "\\" + name, ""), ("\\??\\" + windows_folder, "")]
        gone = [UNINSTALL_KEY, APP_PATHS + r"\quollase.exe", APP_PATHS + r"\qlxtra32.exe",
                "HKCU\\" + BUILDER_KEY, "HKLM\\" + BUILDER_KEY, "HKLM\\" + MAKER,
                r"HKCR\QuollaSE.RegFile", r"HKCR\.semul"]
        kept = ["HKCU\\" + MAKER + r"\Other Product"]
        answers = prefix.reg(PENDING_QUERY, REGISTRY_STORE, *([("key", k) for k in gone + kept] +
                                                              [("atom", name) for name in RESTART_FILES]))
        pending = pending_of(answers[0])
        equal([(s.lower(), t) for s, t in pending], [(s.lower(), t) for s, t in wanted],
              "pending restart operations")
        equal(answers[1]["text"].rstrip("\0"), other, "another program's setting")
        exists = {a["key"]: a["exists"] for a in answers[2:] if "key" in a}
        equal([k for k in gone if exists[k]], [], "keys left")
        equal([k for k in kept if not exists[k]], [], "keys of other products removed")
        equal([a["atom"] for a in answers if "atom" in a and not a["exists"]], [], "marker atoms missing")
        check(not os.path.exists(prefix.unix(COMMON_START_MENU + r"\Programs" + "\\" + GROUP)),
              "the Start-menu group is left")
        check(not os.path.exists(prefix.unix(COMMON_START_MENU + "\\" + SHORTCUT)),
              "the Start-menu shortcut is left")
        # Nothing is left to do the second time, and it says so.
        prefix.run(folder, ["-uninstall"], UNINSTALL_YES).expect(NOTHING_TO_BUILD, [4011])
        equal(len(prefix.pending()), len(wanted), "pending operations after the second uninstall")

    return [declined_first, declined_second, another_builder_runs, archiver_runs, whole_and_again]


# ---------------------------------------------------------------------------
# Post-install


def answer_setup_dialog(button, text):
    return ["window", "caption " + SETUP_CAPTION, "text " + text, "press %d" % button]


def check_setup_dialog(run, text, etched_line, then_wizard=False):
    # Run now starts the builder anew, and that one opens its wizard, which
    # the robot's default answer cancels.
    wanted = [(SETUP_CAPTION, 1)] + ([("Quolla Self-Extractor", 0)] if then_wizard else [])
    equal([(w["caption"], w["rule"]) for w in run.windows], wanted, "the windows the robot answered")
    controls = run.windows[0]["controls"]
    check(any(text in c["text"] for c in controls), "the dialog's text: %r" % controls)
    equal([c["id"] for c in controls if c["id"] in (RUN_NOW, DONE, 999)],
          [999, RUN_NOW, DONE] if etched_line else [RUN_NOW, DONE], "the dialog's controls")


def postinstall_group(prefix):
    def after_pending_uninstall():
        # "nor": the step after an earlier uninstall whose restart deletion
        # has not happened yet; Done ends it.
        folder, own = install(prefix, "postinstall-after-uninstall")
        prefix.run(folder, ["-uninstall"], UNINSTALL_YES).expect(NOTHING_TO_BUILD, [4010, 4810, 480])
        before = prefix.pending()
        check(len(before) == 1 + 2 * len(RESTART_FILES), "the uninstall's pending deletions: %r" % before)
        # The setup program copies the files anew, then runs the step.
        for name, source in (("QLSE32.DLL", prefix.args.helper), ("quollase.chm", prefix.args.help_file)):
            shutil.copyfile(source, os.path.join(folder, name))
        text = "Setup complete. Thank you for installing Quolla\u00ae Self-Extractor."
        run = prefix.run(folder, ["-nor"], script=answer_setup_dialog(DONE, text))
        run.expect(NOTHING_TO_BUILD, [])
        check_setup_dialog(run, text, etched_line=False)
        equal(len(run.exits), 1, "processes of the run")
        windows_folder = own[:own.rindex("\\") + 1]
        answers = prefix.reg(PENDING_QUERY, *[("get", APP_PATHS + "\\" + n, "@")
                                              for n in ("QUOLLASE.EXE", "QLXTRA32.EXE")] + [VERSION_RECORD])
        equal(pending_of(answers[0]), [OTHER_OPERATION], "pending operations after the step")
        equal([a["text"].rstrip("\0") for a in answers[1:]],
              [windows_folder + "QUOLLASE.EXE", windows_folder + "QLXTRA32.EXE", "4.0"],
              "App Paths and the version record")

    def run_now():
        # "r", whose first run of this version asks about the main archiver;
        # the run-now button starts the builder anew.
        folder = prefix.lay_out("postinstall-run-now")
        GENERATIONS[1].setup(prefix, OLD_VERSIONS, OLD_PROGRAM)
        text = "Quolla Self-Extractor has been successfully installed."
        run = prefix.run(folder, ["-r"], "%d=yes" % QUESTION_ARCHIVER, script=answer_setup_dialog(RUN_NOW, text))
        run.expect(NOTHING_TO_BUILD, [QUESTION_ARCHIVER, WIZARD])
        check_setup_dialog(run, text, etched_line=True, then_wizard=True)
        equal(len(run.exits), 2, "processes of the run (the builder started anew)")
        equal(GENERATIONS[1].setting(prefix.reg(GENERATIONS[1].store)[0]),
              winpath(os.path.join(folder, "qlxtra32.exe")), "the setting")

    return [after_pending_uninstall, run_now]


# ---------------------------------------------------------------------------
# -setupSM and the common-controls version


def check_group(prefix, menu, folder):
    group = prefix.unix(menu + r"\Programs" + "\\" + GROUP)
    equal(sorted(os.listdir(group)), sorted([MANUAL, SHORTCUT]), "the group's shortcuts")
    builder = read_lnk(os.path.join(group, SHORTCUT))
    own_folder = winpath(folder)
    equal(builder.get("target", "").lower(), (own_folder + "\\qlxtra32.exe").lower(), "the builder's target")
    equal(builder.get("description"), "Quolla Self-Extractor", "the builder's description")
    equal(builder.get("working", "").rstrip("\\").lower(), own_folder.lower(), "the working folder")
    manual = read_lnk(os.path.join(group, MANUAL))
    equal(manual.get("target", "").lower(), (own_folder + "\\quollase.chm").lower(), "the manual's target")
    equal(manual.get("description"), "Online Manual", "the manual's description")


def startmenu_group(prefix):
    def creates():
        folder = prefix.lay_out("startmenu")
        prefix.run(folder, ["-setupSM"]).expect(NOTHING_TO_BUILD, [])
        check_group(prefix, COMMON_START_MENU, folder)
        check(not os.path.exists(prefix.unix(prefix.user_start_menu + r"\Programs" + "\\" + GROUP)),
              "a group in the user's Start menu too")

    def rebuilds():
        # A group that exists is rebuilt: stale shortcuts are made anew.
        folder = prefix.lay_out("startmenu-again")
        group = prefix.unix(COMMON_START_MENU + r"\Programs" + "\\" + GROUP)
        os.makedirs(group)
        with open(os.path.join(group, MANUAL), "wb") as f:
            f.write(b"stale")
        prefix.run(folder, ["-setupSM"]).expect(NOTHING_TO_BUILD, [])
        check_group(prefix, COMMON_START_MENU, folder)

    def refused():
        # A file where the group belongs: said, and the refusal code.
        folder = prefix.lay_out("startmenu-refused")
        with open(prefix.unix(COMMON_START_MENU + r"\Programs" + "\\" + GROUP), "wb") as f:
            f.write(b"in the way")
        run = prefix.run(folder, ["-setupSM"])
        run.expect(REFUSED, [6332])
        check(GROUP in run.text(6332), "6332 names the group: %r" % run.text(6332))

    def common_controls():
        folder = prefix.lay_out("common-controls")
        version = prefix.reg(("fileversion", r"C:\windows\system32\comctl32.dll"))[0]["ms"]
        check(version > 0, "comctl32.dll has no version")
        run = prefix.run(folder, [])
        run.expect(NOTHING_TO_BUILD, [WIZARD])
        equal(run.options.get("common_controls_version"), str((version >> 16) * 100 + (version & 0xFFFF)),
              "the common-controls version")
        # The override in the builder's settings stands for the file's version.
        prefix.stage(("set", ARCHIVER_KEY + r"\Quolla Self-Extractor", "comctl32.dll", "sz", "6.0"))
        run = prefix.run(folder, [])
        equal(run.options.get("common_controls_version"), "600", "the overridden version")

    return [creates, rebuilds, refused, common_controls]


# ---------------------------------------------------------------------------
# Windows 9x


def win98_group(prefix):
    def nine_x():
        prefix.stage(("set", r"HKCU\Software\Wine", "Version", "sz", "win98"))
        try:
            folder = prefix.lay_out("win98")
            prefix.run(folder, ["-setupSM"]).expect(NOTHING_TO_BUILD, [])
            # No common Start menu before Windows 2000: the user's.
            check_group(prefix, prefix.user_start_menu, folder)
            check(not os.path.exists(prefix.unix(COMMON_START_MENU + r"\Programs" + "\\" + GROUP)),
                  "a group in the common Start menu")
            wininit = prefix.windows("wininit.ini")
            with open(wininit, "wb") as f:
                f.write(b"[boot]\r\nshell=x\r\n")
            prefix.run(folder, ["-uninstall"], UNINSTALL_YES).expect(NOTHING_TO_BUILD, [4010, 4810, 480])
            check(prefix.pending() is None, "the NT schedule was used")
            own_folder = winpath(folder)
            lines = [b"[rename]"]
            for name in reversed(RESTART_FILES):
                lines += [("nul=%s\\%s" % (own_folder, name)).encode(), ("nul=" + own_folder).encode()]
            lines += [b"[boot]", b"shell=x", b""]
            with open(wininit, "rb") as f:
                got = f.read()
            equal(got.lower(), b"\r\n".join(lines).lower(), "wininit.ini after the uninstall")
            for name, source in (("QLSE32.DLL", prefix.args.helper), ("quollase.chm", prefix.args.help_file)):
                shutil.copyfile(source, os.path.join(folder, name))
            prefix.run(folder, ["-nor"], script=answer_setup_dialog(DONE, "Setup complete.")).expect(
                NOTHING_TO_BUILD, [])
            with open(wininit, "rb") as f:
                equal(f.read(), b"[rename]\r\n[boot]\r\nshell=x\r\n", "wininit.ini after the post-install step")
        finally:
            prefix.reg(("unset", r"HKCU\Software\Wine", "Version"))

    return [nine_x]


GROUPS = {"dump": dump_group, "archiver": archiver_group, "uninstall": uninstall_group,
          "postinstall": postinstall_group, "startmenu": startmenu_group, "win98": win98_group}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    for option in ("wine", "wine-state", "builder", "helper", "help-file", "envreg", "fake",
                   "launcher", "fixtures", "work"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
    prefix = Prefix(args)
    failures = 0
    cases = GROUPS[args.group](prefix)
    for case in cases:
        started = time.monotonic()
        try:
            prefix.clean()
            case()
            print("ok   %s (%.1f s)" % (case.__name__, time.monotonic() - started))
        except Failure as fault:
            failures += 1
            print("FAIL %s: %s" % (case.__name__, fault))
    prefix.clean()
    prefix.flush()
    print("%d passed, %d failed" % (len(cases) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
