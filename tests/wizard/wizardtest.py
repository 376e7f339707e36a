#!/usr/bin/env python3
"""The wizard of the real builder under Wine, driven page by page by the robot
through its control ids: each session fills the pages as a user would, and
the test checks what the pages showed (the robot's snapshots), the boxes they
raised (the message log), the record they filled (the options dump), the file
they built (the layout checker), what the file extracts when the wizard's
test run starts it, and what the mail client received.

usage: wizardtest.py SESSION --wine QL_WINE --launcher QLLAUNCH --fake QLFAKE --builder EXE --helper DLL
                     --help-file CHM --mapi DLL --tools DIR --work DIR

The pictures of the pages land in WORK/shots as PNG files.
"""
import argparse
import filecmp
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmppng  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "builder"))
from buildertest import unescape  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wintools"))
from launch import launch  # noqa: E402

RUN_DEADLINE = 240
BUILT, NOTHING_BUILT = 1, 0
CAPTION = "Quolla Self-Extractor"

FLAG_OVERWRITE = 0x2
FLAG_WAIT = 0x4
FLAG_TITLE = 0x10
FLAG_AUTO = 0x200
FLAG_PE_SECTION = 0x800
FLAG_COMMAND_SPLIT = 0x10000
FLAG_GREETING_BUTTONS = 0x80000
FLAG_GREETING_OK_CANCEL = 0x100000

# Frame controls.
BACK, NEXT, CLOSE, FINISH, HEADING, HELP = 8101, 8102, 8103, 8110, 8111, 9

# How the robot knows a page: a control only it has (and a text it shows).
PAGES = {
    "WIZ_WELCOME": (108, None),
    "WIZ_PANEL1": (104, None),
    "WIZ_SPANN_CHECK": (224, None),
    "WIZ_GETFILE": (107, None),
    "WIZ_GETDIZ": (214, None),
    "WIZ_GETDIR": (102, None),
    "WIZ_COMMAND": (109, None),
    "WIZ_PROMISC": (221, None),
    "WIZ_PROCMD": (215, None),
    "WIZ_PROFILES": (206, None),
    "WIZ_GETABOUT": (209, None),
    "WIZ_GETICO": (203, None),
    "WIZ_MISC": (115, None),
    "WIZ_GENERIC": (116, "Ready to create"),
    "WIZ_BUILD": (116, "Creating "),
    "WIZ_TEST": (202, None),
    "WIZ_DONE": (228, None),
}

ENTRIES = [("readme.txt", b"Quolla wizard test\r\n" * 40), ("sub/b.txt", b"bee" * 300), ("empty.txt", b"")]


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Script:
    """The robot's rules: the wizard frame, page after page, then the rules
    for the windows of the test run."""

    def __init__(self, shots=None, prefix=""):
        self.shots = shots
        self.prefix = prefix
        self.visits = {}
        self.lines = ["default leave", "window", "caption " + CAPTION, "class #32770"]

    def page(self, name, *steps, shot=False):
        """Waits for the page, records it (and its picture), then acts."""
        control, text = PAGES[name]
        self.visits[name] = self.visits.get(name, 0) + 1
        label = "%s#%d" % (name, self.visits[name])
        self.lines.append("await-id %d%s" % (control, " " + text if text else ""))
        self.lines.append("snap " + label)
        if shot and self.shots:
            self.lines.append("shot " + winpath(os.path.join(self.shots, self.prefix + label.replace("#", "-") + ".bmp")))
        self.lines += list(steps)
        return self

    def steps(self, *steps):
        self.lines += list(steps)
        return self

    def window(self, *lines):
        self.lines += ["window"] + list(lines)
        return self

    def text(self):
        return "\n".join(self.lines) + "\n"


def set_text(control, text):
    return "set %d %s" % (control, text)


class Run:
    """What one builder session left behind."""

    def __init__(self, code, output, log, messages, record, mail):
        self.code, self.output, self.log, self.messages, self.record, self.mail = \
            code, output, log, messages, record, mail
        self.faults = []

    def snaps(self):
        return {a["label"]: a for a in self.log if a.get("event") == "action" and a.get("do") == "snap"}

    def snap(self, label):
        snap = self.snaps().get(label)
        if snap is None:
            self.faults.append("no snapshot %s" % label)
        return snap

    def control(self, label, control_id):
        snap = self.snap(label)
        for c in (snap or {}).get("controls", []):
            if c["id"] == control_id:
                return c
        if snap is not None:
            self.faults.append("%s: no control %d" % (label, control_id))
        return {}

    def expect(self, condition, what):
        if not condition:
            self.faults.append(what)
        return condition

    def equal(self, got, wanted, what):
        return self.expect(got == wanted, "%s: got %r, wanted %r" % (what, got, wanted))

    def ids(self):
        return [m[0] for m in self.messages]


class Session:
    def __init__(self, args, name):
        self.args = args
        self.name = name
        self.folder = os.path.join(args.work, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.shots = os.path.join(args.work, "shots")
        os.makedirs(self.shots, exist_ok=True)
        self.dist = os.path.join(self.folder, "dist")
        os.makedirs(self.dist)
        for path, target in ((args.builder, "qlxtra32.exe"), (args.helper, "QLSE32.DLL"),
                             (args.help_file, "quollase.chm")):
            shutil.copyfile(path, os.path.join(self.dist, target))

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def zip(self, name, entries, **options):
        path = self.path(name)
        with zipfile.ZipFile(path, "w", options.get("method", zipfile.ZIP_DEFLATED)) as z:
            for entry, data in entries:
                if options.get("zip64"):
                    with z.open(entry, "w", force_zip64=True) as member:
                        member.write(data)
                else:
                    z.writestr(entry, data)
        return path

    def fake_entry(self):
        with open(self.args.fake, "rb") as f:
            return f.read()

    def wine(self, *arguments):
        return subprocess.run([self.args.wine] + list(arguments), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=RUN_DEADLINE)

    MAIL_KEY = r"HKLM\SOFTWARE\Clients\Mail"

    def default_mail_client(self):
        """The name of the default mail client ("" for none)."""
        query = self.wine("reg", "query", self.MAIL_KEY, "/ve")
        for line in query.stdout.decode("utf-8", "replace").splitlines():
            if "REG_SZ" in line:
                return line.split("REG_SZ", 1)[1].strip()
        return ""

    def set_default_mail_client(self, name):
        if name:
            self.wine("reg", "add", self.MAIL_KEY, "/ve", "/d", name, "/f")
        else:
            self.wine("reg", "delete", self.MAIL_KEY, "/ve", "/f")

    def register_mail_client(self, on):
        """The test's MAPI library as the default client; off restores the
        client there was before (Wine brings one of its own)."""
        client = self.MAIL_KEY + r"\Quolla Test Mail"
        if on:
            self.previous_client = self.default_mail_client()
            shutil.copyfile(self.args.mapi, self.path("qlmapi.dll"))
            self.set_default_mail_client("Quolla Test Mail")
            self.wine("reg", "add", client, "/v", "DLLPath", "/d", winpath(self.path("qlmapi.dll")), "/f")
        else:
            self.wine("reg", "delete", client, "/f")
            self.set_default_mail_client(getattr(self, "previous_client", ""))

    def hold(self, name, seconds):
        """A program that holds the file open (others may only read it),
        once it does so; stop it with release()."""
        log = self.path("hold.txt")
        holder = subprocess.Popen([self.args.wine, self.args.fake, "out", winpath(log), "hold", winpath(self.path(name)),
                                   str(seconds * 1000)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  start_new_session=True)
        deadline = time.time() + 120
        while time.time() < deadline and holder.poll() is None:
            if os.path.exists(log):
                with open(log, encoding="utf-8") as f:
                    if f.read().strip():
                        break
            time.sleep(0.2)
        return holder

    @staticmethod
    def release(holder):
        if holder.poll() is None:
            os.killpg(holder.pid, signal.SIGTERM)
        holder.wait(timeout=60)

    def register_archiver(self, command):
        key = r"HKCR\quolla"
        self.wine("reg", "delete", key, "/f")
        if command is not None:
            self.wine("reg", "add", key + r"\shell\open\command", "/ve", "/d", command, "/f")

    def run(self, script, answers="", env=None):
        with open(self.path("script.txt"), "w", encoding="utf-8") as f:
            f.write(script.text())
        log, messages, dump, mail = (self.path(n) for n in ("log.jsonl", "messages.log", "options.txt", "mail.txt"))
        variables = {"QL_MESSAGE_LOG": winpath(messages), "QL_MESSAGE_ANSWERS": answers,
                     "QL_OPTIONS_DUMP": winpath(dump), "QL_MAPI_LOG": winpath(mail),
                     "QLFAKE_LOG": winpath(self.path("fake.jsonl"))}
        variables.update(env or {})
        options = ["-timeout", str(RUN_DEADLINE - 30), "-dir", winpath(self.folder), "-script",
                   self.path("script.txt"), "-log", log]
        for name, value in variables.items():
            options += ["-env", "%s=%s" % (name, value)]
        run = launch(self.args.wine, self.args.launcher, options + ["--", winpath(self.path("dist", "qlxtra32.exe"))],
                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_DEADLINE + 60)
        records = []
        if os.path.exists(log):
            with open(log, encoding="utf-8") as f:
                records = [json.loads(line) for line in f if line.strip()]
        shown = []
        if os.path.exists(messages):
            with open(messages, encoding="utf-8") as f:
                for line in f:
                    if line.strip():
                        number, answer, text = line.rstrip("\n").split("\t", 2)
                        shown.append((int(number), answer, unescape(text)))
        record = {}
        if os.path.exists(dump):
            with open(dump, encoding="utf-8") as f:
                for line in f:
                    key, _, value = line.rstrip("\n").partition("=")
                    record[key] = unescape(value)
        sent = {}
        if os.path.exists(mail):
            with open(mail, encoding="latin-1") as f:
                lines = f.read().splitlines()
            sent = {"lines": lines, "fields": dict(line.split("=", 1) for line in lines if "=" in line)}
        self.convert_shots()
        return Run(run.returncode, run.stdout.decode("utf-8", "replace"), records, shown, record, sent)

    def convert_shots(self):
        for name in sorted(os.listdir(self.shots)):
            if name.endswith(".bmp"):
                source = os.path.join(self.shots, name)
                bmppng.convert(source, source[:-4] + ".png")
                os.remove(source)

    def check_built(self, run, exe, mode, flags_on=0, flags_off=0, texts=None, options=()):
        """The layout checker passes the file, which holds what the pages took."""
        check = subprocess.run([sys.executable, os.path.join(self.args.tools, "sfxcheck.py"), exe, "--json"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        if not run.expect(check.returncode == 0, "checker: %s" % check.stdout.decode("utf-8", "replace")):
            return None
        result = json.loads(check.stdout)
        run.equal(result["mode"], mode, "mode")
        flags = result["record"]["flags"]
        run.expect(flags & flags_on == flags_on and not flags & flags_off,
                   "flags 0x%x (on 0x%x, off 0x%x)" % (flags, flags_on, flags_off))
        names = ["about", "command", "arguments", "reserved", "dialog text", "title", "greeting", "options"] \
            if mode == "install" else ["folder", "program", "arguments", "reserved", "greeting", "title", "about",
                                       "options"]
        fields = dict(zip(names, result["texts"]))
        for name, text in (texts or {}).items():
            run.equal(fields.get(name), text, "text %s" % name)
        for option in options:
            run.expect(option in fields.get("options", ""), "option %r not in %r" % (option, fields.get("options")))
        test = subprocess.run(["unzip", "-t", exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        run.expect(test.returncode == 0 and b"extra bytes" not in test.stdout,
                   "unzip -t: %s" % test.stdout.decode("utf-8", "replace"))
        return result

    def check_tree(self, run, zip_path, tree, ignore=()):
        """The stub extracted what unzip extracts."""
        wanted = self.path("unzipped-" + os.path.basename(zip_path))
        subprocess.run(["unzip", "-q", "-o", "-d", wanted, zip_path], check=True, timeout=120)

        def walk(c, prefix):
            for name in c.left_only + c.right_only + c.diff_files + c.funny_files:
                if prefix + name not in ignore:
                    run.faults.append("tree differs at %s%s" % (prefix, name))
            for name, sub in c.subdirs.items():
                walk(sub, prefix + name + "/")
        if run.expect(os.path.isdir(tree), "no extracted tree at %s" % tree):
            walk(filecmp.dircmp(wanted, tree), "")

    def fake_runs(self):
        path = self.path("fake.jsonl")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]


def visible(control):
    return control.get("visible")


def enabled(control):
    return control.get("enabled")


def checked(control):
    return control.get("check") == 1


# --- the sessions


def session_standard(args):
    """Standard mode end to end, every page visited with Next and pictured:
    refused Zips keep WIZ_GETFILE, a name without extension gets ".zip",
    no removable drive sends WIZ_SPANN back to WIZ_PANEL1, Back and forth
    keeps the values, WIZ_MISC turns overwrite off, the summary shortens a
    32-character command but not a 31-character one; the build, the test
    run (which unzips into the folder typed and runs the command typed), no
    Mail button without a mail client, and a second pass that starts with
    cleared names."""
    s = Session(args, "standard")
    fake = s.fake_entry()
    good = s.zip("in.zip", ENTRIES + [("fake.exe", fake)])
    with open(good, "rb") as f:
        data = bytearray(f.read())
    at = data.find(b"PK\x01\x02")
    data[at + 3] = 0x07  # the first central header's signature broken
    with open(s.path("damaged.zip"), "wb") as f:
        f.write(data)
    s.zip("zip64.zip", ENTRIES[:1], zip64=True)
    s.zip("travel.zip", [("../escape.txt", b"out")])
    out = s.path("out")
    command = "fake.exe touch done.txt"
    c31, c32 = "abcdefghijklmnopqrstuvwxyz01234", "abcdefghijklmnopqrstuvwxyz012345"
    # No default mail client while this session runs.
    client = s.default_mail_client()
    s.set_default_mail_client("")
    w = Script(s.shots, s.name + "-")
    w.page("WIZ_WELCOME", "press %d" % NEXT, shot=True)
    w.page("WIZ_PANEL1", "check 104", "press %d" % NEXT, shot=True)
    # Spanning asked for, with no removable drive: 6080 and back.
    w.page("WIZ_SPANN_CHECK", "check 224", "press %d" % NEXT, shot=True)
    w.page("WIZ_PANEL1", "press %d" % NEXT)
    w.page("WIZ_SPANN_CHECK", "uncheck 224", "press %d" % NEXT)
    # Refused names keep the page (each click handled before the next name).
    w.page("WIZ_GETFILE", set_text(101, "missing"), "send %d" % NEXT, shot=True)
    w.steps("snap getfile-extended", set_text(101, "damaged.zip"), "send %d" % NEXT, "snap getfile-damaged",
            set_text(101, "zip64.zip"), "send %d" % NEXT, "snap getfile-zip64",
            set_text(101, "travel.zip"), "send %d" % NEXT, "snap getfile-travel",
            set_text(101, "in"), "press %d" % NEXT)
    w.page("WIZ_GETDIZ", set_text(214, "Hello from the wizard"), set_text(116, "Wizard Title"), "check 236",
           "press %d" % NEXT, shot=True)
    w.page("WIZ_GETDIR", "press %d" % BACK)
    w.page("WIZ_GETDIZ", "press %d" % NEXT)
    w.page("WIZ_GETDIR", set_text(102, winpath(out)), "press %d" % NEXT, shot=True)
    w.page("WIZ_COMMAND", set_text(109, c31), "press %d" % NEXT, shot=True)
    w.page("WIZ_GETABOUT", set_text(209, "About the wizard's file"), "press %d" % NEXT, shot=True)
    w.page("WIZ_GETICO", "press %d" % NEXT, shot=True)
    w.page("WIZ_MISC", "check 221", "press %d" % NEXT, shot=True)
    # Back to the command and forth again, for each command the summary shows.
    for text in (c32, command):
        for name in ("WIZ_GENERIC", "WIZ_MISC", "WIZ_GETICO", "WIZ_GETABOUT"):
            w.page(name, "press %d" % BACK)
        w.page("WIZ_COMMAND", set_text(109, text), "press %d" % NEXT)
        for name in ("WIZ_GETABOUT", "WIZ_GETICO", "WIZ_MISC"):
            w.page(name, "press %d" % NEXT)
    w.page("WIZ_GENERIC", "press %d" % NEXT, shot=True)
    w.page("WIZ_TEST", "press %d" % NEXT, shot=True)
    w.page("WIZ_DONE", shot=True)
    w.steps("press %d" % NEXT)
    w.page("WIZ_PANEL1", "press %d" % NEXT)
    w.page("WIZ_SPANN_CHECK", "press %d" % NEXT)
    w.page("WIZ_GETFILE", "press %d" % CLOSE)
    # The test run: the greeting, then the stub unzips by itself.
    w.window("text Hello from the wizard", "press-text Yes")
    try:
        run = s.run(w, answers="4920=yes")
    finally:
        s.set_default_mail_client(client)
    run.equal(run.code, BUILT, "exit code (%s)" % run.output)

    # The pages as they were shown.
    run.equal(run.control("WIZ_WELCOME#1", BACK).get("enabled"), False, "Back on the first page")
    run.equal(run.control("WIZ_WELCOME#1", HEADING).get("text"), "Click Help at any time for more information",
              "welcome heading")
    run.equal(enabled(run.control("WIZ_PANEL1#1", FINISH)), False, "Finish on WIZ_PANEL1")
    run.equal(checked(run.control("WIZ_PANEL1#2", 104)), True, "standard mode kept")
    run.equal(checked(run.control("WIZ_SPANN_CHECK#2", 224)), True, "spanning kept after 6080")
    run.equal(run.control("getfile-extended", 101).get("text"), "missing.zip", "a name without extension")
    run.equal(enabled(run.control("WIZ_GETFILE#1", FINISH)), True, "Finish on WIZ_GETFILE in standard mode")
    for label in ("getfile-damaged", "getfile-zip64", "getfile-travel"):
        run.expect(visible(run.control(label, 107)), "%s: the page stayed" % label)
    run.equal(run.control("WIZ_GETDIZ#2", 214).get("text"), "Hello from the wizard", "greeting kept")
    run.equal(run.control("WIZ_GETDIZ#2", 116).get("text"), "Wizard Title", "title kept")
    run.equal(checked(run.control("WIZ_GETDIZ#2", 236)), True, "Yes/No kept")
    run.equal(checked(run.control("WIZ_MISC#1", 115)), True, "overwrite on at first")
    run.equal(checked(run.control("WIZ_MISC#2", 115)), False, "overwrite off with a folder and auto")
    summaries = [run.control("WIZ_GENERIC#%d" % n, 116).get("text", "") for n in (1, 2, 3)]
    run.expect("Command to execute: %s\n" % c31 in summaries[0], "31 characters whole: %r" % summaries[0])
    run.expect("Command to execute: %s...\n" % c32[:29] in summaries[1], "32 characters cut: %r" % summaries[1])
    run.expect("Default unzip folder: %s\n" % winpath(out) in summaries[2], "folder in the summary")
    run.expect("Unzip automatically: yes\n" in summaries[2] and "Default to overwrite: no\n" in summaries[2],
               "options in the summary: %r" % summaries[2])
    run.equal(checked(run.control("WIZ_TEST#1", 202)), True, "test now offered")
    run.equal(enabled(run.control("WIZ_TEST#1", FINISH)), False, "Finish on WIZ_TEST")
    run.equal(visible(run.control("WIZ_DONE#1", 223)), False, "no Mail button without a mail client")
    run.equal(run.control("WIZ_DONE#1", FINISH).get("text"), "E&xit", "Finish relabelled")
    run.equal(run.control("WIZ_GETFILE#2", 101).get("text"), "", "a second pass starts with no Zip name")

    # The boxes, in order.
    # Wine associates no program with ".exe": the command fake.exe asks 6220.
    wanted = [6080, 1040, 1027, 6328, 1111, 4920, 4920, 6220, 4920]
    run.equal(run.ids(), wanted, "messages %r" % run.messages)

    # The record the pages filled, as the build saw it.
    r = run.record
    for field, value in (("stage", "build"), ("installation_mode", "0"), ("greeting_text", "Hello from the wizard"),
                         ("title", "Wizard Title"), ("title_given", "1"), ("greeting_buttons", "1"),
                         ("greeting_ok_cancel", "0"), ("default_folder", winpath(out)), ("command", command),
                         ("about_text", "About the wizard's file"), ("overwrite", "0"), ("auto", "1"),
                         ("language", "0"), ("spanning", "0"), ("zip_name", winpath(good))):
        run.equal(r.get(field), value, "record %s" % field)

    exe = s.path("in.exe")
    if run.expect(os.path.exists(exe), "no in.exe"):
        s.check_built(run, exe, "standard", flags_on=FLAG_TITLE | FLAG_AUTO | FLAG_GREETING_BUTTONS | FLAG_PE_SECTION |
                      FLAG_COMMAND_SPLIT, flags_off=FLAG_OVERWRITE | FLAG_GREETING_OK_CANCEL,
                      texts={"folder": winpath(out), "program": "fake.exe", "arguments": "touch done.txt",
                             "greeting": "Hello from the wizard", "title": "Wizard Title",
                             "about": "About the wizard's file"},
                      options=["-auto ", "-nooverwrite "])
        s.check_tree(run, good, out, ignore=("done.txt",))
        fakes = s.fake_runs()
        run.expect(any(f.get("folder", "").rstrip("\\").lower() == winpath(out).lower() and "touch done.txt" in
                       f.get("line", "") for f in fakes), "the command ran in the folder: %r" % fakes)
    return run


def session_installation(args):
    """Installation mode end to end, every page visited and pictured: Finish
    is off on WIZ_GETFILE, the scan offers the setup.exe it found as the
    command, the command "setup" of setup.zip is refused (5090), install.inf
    brings the RUNONCE question, 'Wait for' takes 8 characters but not 9 nor
    a dot; the test run (as administrator) installs: the setup program gets
    the extracted tree."""
    s = Session(args, "installation")
    good = s.zip("setup.zip", ENTRIES + [("setup.exe", s.fake_entry())])
    tree = s.path("tree")
    command = ".\\setup.exe copytree . " + winpath(tree)
    w = Script(s.shots, s.name + "-")
    w.page("WIZ_WELCOME", "press %d" % NEXT)
    w.page("WIZ_PANEL1", "check 106", "press %d" % NEXT)
    w.page("WIZ_SPANN_CHECK", "press %d" % NEXT)
    w.page("WIZ_GETFILE", set_text(101, "setup"), "press %d" % NEXT, shot=True)
    w.page("WIZ_GETDIZ", "press %d" % NEXT, shot=True)
    w.page("WIZ_PROMISC", "check 221", "press %d" % NEXT, shot=True)
    w.page("WIZ_PROCMD", set_text(109, "setup"), "send %d" % NEXT, shot=True)
    w.steps("snap procmd-self", set_text(109, "install.inf"), "press %d" % NEXT)
    w.page("WIZ_PROFILES", "press %d" % BACK)
    w.page("WIZ_PROCMD", set_text(109, command), set_text(215, "ABCDEFGHI"), "send %d" % NEXT)
    w.steps("snap procmd-nine", set_text(215, "A.B"), "send %d" % NEXT, "snap procmd-dot",
            set_text(215, "ABCDEFGH"), "press %d" % NEXT)
    w.page("WIZ_PROFILES", "press %d" % BACK)
    w.page("WIZ_PROCMD", set_text(215, ""), "press %d" % NEXT)
    w.page("WIZ_PROFILES", set_text(206, "Press Setup to install."), "press %d" % NEXT, shot=True)
    w.page("WIZ_GETABOUT", "press %d" % NEXT, shot=True)
    w.page("WIZ_GETICO", "press %d" % NEXT, shot=True)
    w.page("WIZ_GENERIC", "press %d" % NEXT, shot=True)
    w.page("WIZ_TEST", "press %d" % NEXT, shot=True)
    w.page("WIZ_DONE", "check 229", shot=True)
    w.steps("snap done-finished", "press %d" % FINISH)
    run = s.run(w, answers="4920=yes,6290=yes")
    run.equal(run.code, BUILT, "exit code (%s)" % run.output)

    run.equal(checked(run.control("WIZ_PANEL1#1", 106)), False, "standard mode at first")
    run.equal(enabled(run.control("WIZ_GETFILE#1", FINISH)), False, "Finish on WIZ_GETFILE in installation mode")
    run.equal(run.control("WIZ_GETFILE#1", HEADING).get("text"), "", "no heading on WIZ_GETFILE")
    run.equal(checked(run.control("WIZ_PROMISC#1", 243)), True, "an installation runs as administrator")
    run.equal(run.control("WIZ_PROCMD#1", 109).get("text"), ".\\setup.exe", "the command the scan found")
    run.equal(enabled(run.control("WIZ_PROCMD#1", FINISH)), False, "Finish on WIZ_PROCMD")
    run.expect(visible(run.control("procmd-self", 215)), "5090 keeps the page")
    run.equal(run.control("WIZ_PROCMD#2", 215).get("text"), "RUNONCE", "RUNONCE after Yes")
    run.expect(visible(run.control("procmd-nine", 215)) and visible(run.control("procmd-dot", 215)),
               "4720 keeps the page")
    run.equal(enabled(run.control("WIZ_PROFILES#3", FINISH)), True, "Finish on WIZ_PROFILES")
    summary = run.control("WIZ_GENERIC#1", 116).get("text", "")
    run.expect(summary.startswith("Ready to create %s.\n\nCommand to execute: %s...\nWait for: none\n" %
                                  (winpath(s.path("setup.exe")), command[:29])), "summary %r" % summary)
    run.expect("Run as: administrator (Windows Vista only)" in summary, "run as in the summary")
    run.equal(enabled(run.control("done-finished", FINISH)), True, "Exit after No")
    run.equal(enabled(run.control("done-finished", NEXT)), False, "no Next after No")
    run.equal(run.ids(), [4920, 5090, 6290, 4720, 4720, 4870], "messages %r" % run.messages)

    r = run.record
    for field, value in (("stage", "build"), ("installation_mode", "1"), ("command", command), ("wait_name", ""),
                         ("dialog_text", "Press Setup to install."), ("auto", "1"), ("run_as_admin", "1"),
                         ("language", "0"), ("zip_name", winpath(good))):
        run.equal(r.get(field), value, "record %s" % field)
    exe = s.path("setup.exe")
    if run.expect(os.path.exists(exe), "no setup.exe built"):
        s.check_built(run, exe, "install", flags_on=FLAG_AUTO, flags_off=FLAG_WAIT,
                      texts={"command": command, "dialog text": "Press Setup to install."}, options=["-auto "])
        s.check_tree(run, good, tree)
    return run


def session_defaults(args):
    """Finish straight from WIZ_GETFILE builds with the defaults; the Zip name
    comes from the main archiver that Run Quolla started (message 0x7E8);
    an existing output is confirmed (4310), a locked one refused
    (4320); with a mail client the Mail button sends the file."""
    s = Session(args, "defaults")
    good = s.zip("in.zip", ENTRIES)
    s.zip("ro.zip", ENTRIES)
    for name in ("in.exe", "ro.exe"):
        with open(s.path(name), "wb") as f:
            f.write(b"an older file")
    holder = s.hold("ro.exe", 200)
    s.register_mail_client(True)
    # The main archiver stand-in hands the Zip it was asked to open back to
    # the wizard, as the archiver does once the user has made it.
    s.register_archiver('"%s" handover "%s" 1 "%%1"' % (winpath(args.fake), CAPTION))
    try:
        w = Script()
        w.page("WIZ_WELCOME", "press %d" % NEXT)
        w.page("WIZ_PANEL1", "press %d" % NEXT)
        w.page("WIZ_SPANN_CHECK", "press %d" % NEXT)
        w.page("WIZ_GETFILE", set_text(101, "in"), "press 212")
        w.steps("await-id 101 in.zip", "snap handed-over", set_text(101, "ro"), "send %d" % NEXT, "snap locked",
                set_text(101, "in"), "press %d" % FINISH)
        w.page("WIZ_TEST", "uncheck 202", "press %d" % NEXT)
        w.page("WIZ_DONE", "send 223", "check 229", "press %d" % FINISH)
        run = s.run(w, answers="4310=yes")
    finally:
        s.register_mail_client(False)
        s.register_archiver(None)
        s.release(holder)
    run.equal(run.code, BUILT, "exit code (%s)" % run.output)
    run.expect(visible(run.control("locked", 107)), "4320 keeps the page")
    run.equal(visible(run.control("WIZ_DONE#1", 223)), True, "the Mail button with a mail client")
    run.equal(run.ids(), [4310, 4320, 4310], "messages %r" % run.messages)
    run.equal(run.control("handed-over", 101).get("text"), "in.zip", "the Zip name handed over")
    run.expect(any("handover" in f.get("line", "") and f.get("line", "").endswith('"in.zip"') for f in s.fake_runs()),
               "the archiver was asked to open in.zip: %r" % s.fake_runs())
    r = run.record
    for field, value in (("stage", "build"), ("installation_mode", "0"), ("greeting_text", ""), ("title", ""),
                         ("default_folder", ""), ("command", ""), ("about_text", ""), ("overwrite", "1"),
                         ("auto", "0"), ("zip_name", winpath(good)), ("output_name", winpath(s.path("in.exe")))):
        run.equal(r.get(field), value, "record %s" % field)
    exe = s.path("in.exe")
    if run.expect(os.path.exists(exe), "no in.exe"):
        s.check_built(run, exe, "standard", flags_on=FLAG_OVERWRITE | FLAG_PE_SECTION,
                      flags_off=FLAG_TITLE | FLAG_AUTO | FLAG_GREETING_BUTTONS,
                      texts={"folder": "", "program": "", "greeting": "", "title": "", "about": ""})
    mail = run.mail.get("fields", {})
    run.equal(mail.get("subject"), "in.exe", "mail subject")
    run.equal(mail.get("note"), " ", "mail note")
    run.equal(mail.get("files"), "1", "attachments")
    run.equal(mail.get("file_path"), winpath(exe), "attached file")
    run.equal(mail.get("file_name"), "in.exe", "attachment name")
    run.equal(mail.get("recipients"), "0", "recipients")
    return run


def session_stop(args):
    """Stop during a large build: the cancel reaches the build, the wizard
    shows the summary, and no output is left."""
    s = Session(args, "stop")
    block = os.urandom(1 << 20)
    s.zip("big.zip", [("part%03d.bin" % n, block[n:] + block[:n]) for n in range(240)], method=zipfile.ZIP_STORED)
    w = Script(s.shots, s.name + "-")
    w.page("WIZ_WELCOME", "press %d" % NEXT)
    w.page("WIZ_PANEL1", "press %d" % NEXT)
    w.page("WIZ_SPANN_CHECK", "press %d" % NEXT)
    w.page("WIZ_GETFILE", set_text(101, "big"), "press %d" % FINISH)
    w.page("WIZ_BUILD", shot=True)
    w.steps("press %d" % FINISH)
    w.page("WIZ_GENERIC", "press %d" % CLOSE)
    run = s.run(w)
    run.equal(run.code, NOTHING_BUILT, "exit code (%s)" % run.output)
    run.equal(run.control("WIZ_BUILD#1", FINISH).get("text"), "&Stop", "Finish becomes Stop")
    run.equal(enabled(run.control("WIZ_BUILD#1", NEXT)), False, "no Next during the build")
    run.equal(enabled(run.control("WIZ_BUILD#1", BACK)), False, "no Back during the build")
    run.equal(run.control("WIZ_GENERIC#1", FINISH).get("text"), "&Finish", "Finish again")
    run.expect(not os.path.exists(s.path("big.exe")), "a stopped build leaves no output")
    run.equal(run.ids(), [], "a stop is no error: %r" % run.messages)
    os.remove(s.path("big.zip"))
    return run


def check_pictures(args, run):
    """Every picture is there and shows more than one colour."""
    folder = os.path.join(args.work, "shots")
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".png"):
            continue
        with open(os.path.join(folder, name), "rb") as f:
            head = f.read(24)
        width, height = struct.unpack(">II", head[16:24])
        run.expect(width > 300 and height > 200, "%s: %dx%d" % (name, width, height))


SESSIONS = {
    "standard": session_standard,
    "installation": session_installation,
    "defaults": session_defaults,
    "stop": session_stop,
}


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("session", choices=sorted(SESSIONS))
    for name in ("wine", "launcher", "fake", "builder", "helper", "help-file", "mapi", "tools", "work"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args(argv)
    os.makedirs(args.work, exist_ok=True)
    run = SESSIONS[args.session](args)
    check_pictures(args, run)
    for fault in run.faults:
        print("FAIL " + fault)
    print("%s: %s" % (args.session, "ok" if not run.faults else "%d faults" % len(run.faults)))
    return 1 if run.faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
