#!/usr/bin/env python3
"""Start-up cases of the stub: self-extractors made by the packer (checked by the
checker, or broken on purpose), run under Wine through the launcher and its robot.

usage: stubtest.py GROUP --wine QL_WINE --launcher QLLAUNCH --stubs DIR --tools DIR --work DIR

Every run has a deadline; after every run its relaunch folder is gone, and
after the group the temp folder holds what it held before.
"""
import argparse
import concurrent.futures
import copy
import glob
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import threading
import zipfile
import zlib
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wintools"))
from launch import launch  # noqa: E402

RUN_DEADLINE = 90
EYECATCHER = b"TRV\x01sfx\x02"

TEXT_CORRUPT = "header corrupt"
TEXT_DAMAGED = "Zip file is damaged, truncated, or has been changed"
TEXT_INCOMPLETE = "This is an incomplete self-extractor;"
TEXT_BAD_PARAMETER = "Invalid command line parameter (%s)."
CAPTION = "Quolla Self-Extractor"
# A missing string-table entry, as the library reports it.
INTERNAL_ERROR = "Quolla internal error in file QlGutz.c line 580"
# The binder's: line 10 + the DLL's number when it does not load, 20 + it when
# a function is missing (SHLWAPI is number 4).
BIND_ERROR = "Quolla internal error in file sfxbind.c line %d"

FLAG_PE_SECTION = 0x800
FLAG_GREETING_BUTTONS = 0x80000
FLAG_GREETING_OK_CANCEL = 0x100000


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def record_offset(data):
    return data.find(EYECATCHER)


# --- ways to break a packed file after the packer made it

def flip_dos_stub(data):
    """A byte of the DOS stub's message: inside the CRC range unless flag 0x800."""
    out = bytearray(data)
    out[0x50] ^= 0x20
    return bytes(out)


def touch_section_table(data):
    """The first section's line-number pointer, which no loader reads, but which the
    CRC covers with flag 0x800 too."""
    out = bytearray(data)
    at = u32(data, 60) + 248 + 28
    out[at] ^= 0x01
    return bytes(out)


def end_record(data):
    return u32(data, record_offset(data) + 20)


def patch_record(offset, value):
    """A header field set after the packer wrote the record; the CRC no longer
    matches, so cases that are not about it pack with --no-crc."""
    def patch(data):
        out = bytearray(data)
        struct.pack_into("<I", out, record_offset(data) + offset, value(data))
        return bytes(out)
    return patch


def break_string_chain(data):
    """Message 2002 made to continue (a leading "!") with an id the string table
    lacks: loading it is an internal error of the library."""
    text = "Quolla Self-Extractor header corrupt".encode("utf-16-le")
    at = data.find(text)
    assert at > 0 and data.find(text, at + 1) < 0
    return data[:at] + "!".encode("utf-16-le") + data[at + 2:]


def rename_in_image(old, new):
    """A name the binder looks up, changed in the image: the DLL or the function
    can then not be bound. The name must stand in the image once."""
    def rename(data):
        assert len(old) == len(new) and data.count(old) == 1, old
        return data.replace(old, new)
    return rename


# DLLs that a ".local" folder could redirect: the four the stub binds at
# first use, and the one its guard loads first from the system folder.
REDIRECTABLE = ["user32.dll", "shell32.dll", "comctl32.dll", "shlwapi.dll", "lpk.dll"]


def loaded_modules(output):
    """The modules Wine's loader reports (WINEDEBUG=+loaddll) as Windows paths."""
    return re.findall(r'trace:loaddll:\w+ Loaded L"([^"]+)"', output)


def guard_loaded_nothing(run):
    """The run ended at the guard: nothing came from the .local folder, and none
    of the DLLs bound at first use was loaded (Wine's own GDI32 brings USER32
    in, so that one is judged by the import table, stub.imports)."""
    modules = [m.replace("\\\\", "\\") for m in loaded_modules(run.output)]
    if not modules:
        return ["no loader trace in the output: %r" % run.output[:500]]
    local = winpath(run.exe + ".local").lower()
    faults = ["loaded from the .local folder: %s" % m for m in modules if m.lower().startswith(local)]
    bound = [m for m in modules if m.lower().rsplit("\\", 1)[-1] in REDIRECTABLE[1:4]]
    if bound:
        faults.append("loaded before the guard ended the run: %r" % bound)
    return faults


def truncate_into_end_record(data):
    return data[:end_record(data) + 2]


def break_end_signature(data):
    out = bytearray(data)
    out[end_record(data) + 3] = 0x07
    return bytes(out)


FAKE = object()   # an archive entry that is the fake program

FLAG_ENCRYPTED = 0x100
FLAG_AUTO = 0x200
FLAG_WAIT_NAME = 0x4
FLAG_MANUAL_WAIT = 0x40
FLAG_COMMAND_SPLIT = 0x10000
FLAG_INSTALL_INF = 0x20000
FLAG_SILENT = 0x400000

TEXT_NO_TEMP = "Unable to create a temporary folder to extract to."
TEXT_SETUP_DONE = "Are you sure that the SETUP program has completed?"
TEXT_NO_COMMAND = "Error, no command has been defined."
TEXT_NO_ARCHIVER = "The Quolla archiver is not installed"
PRODUCT_LINE = "Quolla Self-Extractor 4.0 (build 12218)"
# Rules that keep dialog 100 open (the robot would cancel it) while others act.
LEAVE_DIALOG = ["window", "caption Self-Extractor - ", "repeat", "leave"]
PASSWORD_DIALOG = "Quolla Self-Extractor - Password"


def expand(text, folder):
    """{dir} is the case's folder, {out} its out folder, as Windows paths."""
    return (text.replace("{dir}", winpath(folder))
                .replace("{out}", winpath(os.path.join(folder, "out"))))


class RunFacts:
    """What a check looks at: the run's windows and the fake programs' log."""

    def __init__(self, runner, case, folder, log, windows, exe=None, output=""):
        self.runner = runner
        self.case = case
        self.folder = folder
        self.exe = exe
        self.output = output
        self.log = log
        self.windows = windows
        self.fake = []
        try:
            with open(os.path.join(folder, "fake.jsonl"), encoding="utf-8") as f:
                self.fake = [json.loads(line) for line in f]
        except OSError:
            pass
        driver = '"%s"' % winpath(os.path.join(folder, "driver.exe"))
        self.fake = [entry for entry in self.fake if not entry["line"].startswith(driver)]

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def read(self, *parts):
        try:
            with open(self.path(*parts), encoding="utf-8") as f:
                return f.read()
        except OSError:
            return None


def setup_ran(line, folder=r"\\QLSE\d+\.TMP$", runs=1, folder_stays=False):
    """The fake setup ran once with this command line in a new temporary folder,
    and that folder is gone afterwards (or stays, and is removed here)."""
    def check(run):
        if len(run.fake) != runs:
            return ["the fake ran %d times, wanted %d: %r" % (len(run.fake), runs, run.fake)]
        first = run.fake[0]
        faults = []
        if first["line"] != expand(line, run.folder):
            faults.append("setup command line %r, wanted %r" % (first["line"], expand(line, run.folder)))
        if not re.search(folder, first["folder"], re.IGNORECASE):
            faults.append("setup ran in %r, wanted a folder like %r" % (first["folder"], folder))
        path = run.runner.unix_path(first["folder"])
        if path is None:
            return faults + ["cannot see the folder %r" % first["folder"]]
        if folder_stays:
            if not os.path.isdir(path):
                faults.append("the temporary folder %r is gone, wanted kept" % first["folder"])
            shutil.rmtree(path, ignore_errors=True)
        elif os.path.exists(path):
            faults.append("the temporary folder %r was left behind: %r" % (first["folder"], os.listdir(path)))
            shutil.rmtree(path, ignore_errors=True)
        return faults
    return check


def folder_kept(*names):
    """The temporary folder (under the case's own TMP) stays, with these files
    extracted into it."""
    def check(run):
        tmp = run.path("tmp")
        kept = os.listdir(tmp)
        if len(kept) != 1 or not re.match(r"QLSE\d+\.TMP$", kept[0], re.IGNORECASE):
            return ["the temp folder holds %r, wanted the one extraction folder kept" % kept]
        return ["%s is not in the kept folder" % n for n in names
                if not os.path.isfile(os.path.join(tmp, kept[0], n))]
    return check


def all_of(*checks):
    def check(run):
        return [fault for c in checks for fault in c(run)]
    return check


def files_are(wanted):
    """{path below the case folder: text, or None when it must not exist}."""
    def check(run):
        faults = []
        for name, text in wanted.items():
            got = run.read(*name.split("/"))
            if got != text:
                faults.append("%s holds %r, wanted %r" % (name, got, text))
        return faults
    return check


def folders_exist(*names):
    def check(run):
        return ["%s is gone" % n for n in names if not os.path.isdir(run.path(*n.split("/")))]
    return check


def dialog_folder_is(expected):
    """Control 106 of the dialog, against a text made from the case folder."""
    def check(run):
        dialog = run.windows[0] if run.windows else None
        if dialog is None and run.case.auto_dialog:
            return []
        field = next((c for c in dialog["controls"] if c["id"] == 106), None) if dialog else None
        if field is not None and field.get("stale") and run.case.auto_dialog:
            # Already unzipping when the robot asked: the text could not be
            # read; where the files went still shows the folder.
            return []
        text = field["text"] if field is not None else None
        want = expected(run)
        return [] if text == want else ["the Unzip To folder is %r, wanted %r" % (text, want)]
    return check


def fake_logged(line_part, folder=None):
    """The fake program (run when done, or the main archiver) ran once, so."""
    def check(run):
        if len(run.fake) != 1:
            return ["the fake ran %d times: %r" % (len(run.fake), run.fake)]
        faults = []
        entry = run.fake[0]
        if expand(line_part, run.folder) not in entry["line"]:
            faults.append("fake command line %r, wanted it to hold %r" % (entry["line"],
                                                                        expand(line_part, run.folder)))
        if folder is not None and entry["folder"].rstrip("\\") != expand(folder, run.folder):
            faults.append("fake ran in %r, wanted %r" % (entry["folder"], expand(folder, run.folder)))
        return faults
    return check


def pending_deletion(runner, part):
    """The restart-deletion list holds a path with part; the list is cleared again."""
    key = r"HKLM\System\CurrentControlSet\Control\Session Manager"
    query = subprocess.run([runner.args.wine, "reg", "query", key, "/v", "PendingFileRenameOperations"],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    subprocess.run([runner.args.wine, "reg", "delete", key, "/v", "PendingFileRenameOperations", "/f"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    return part.lower() in query.stdout.decode("utf-8", "replace").lower()


def locked_file_scheduled(run):
    """The setup's child still runs from setup.exe when the folder is deleted."""
    faults = setup_ran("setup.exe spawn sleep 8000", runs=2, folder_stays=True)(run)
    if not pending_deletion(run.runner, "\\setup.exe"):
        faults.append("no restart-deletion entry for the running setup.exe")
    return faults


def set_archiver(command):
    """The main archiver's shell-open command in the registry, or none."""
    def before(runner, folder):
        key = r"HKCR\quolla"
        subprocess.run([runner.args.wine, "reg", "delete", key, "/f"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
        if command is not None:
            subprocess.run([runner.args.wine, "reg", "add", key + r"\shell\open\command", "/ve", "/d",
                            expand(command, folder).replace("{fake}", winpath(runner.args.fake)), "/f"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=True)
    return before


def raw_deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


class Case:
    """One start-up case: how the file is made, how it is run, what it shows."""

    def __init__(self, name, stub="inst-basic-en", mode="install", pack=(), post=None,
                 args="", code=0, boxes=(), dialog=None, script=(), beside=None,
                 read_only=False, processes=2, block=None, env=(), report=None,
                 entries=None, password=None, windows=None, check=None, exe=None,
                 temp=None, out=None, before=None, driver=None, auto_dialog=False):
        self.name = name
        self.stub = stub
        self.mode = mode
        self.pack = list(pack)
        self.post = post
        self.args = args
        self.code = code
        self.boxes = list(boxes)      # (caption part, text part) of each window before the dialog
        self.dialog = dialog          # {control id: text} of dialog 100, None when not reached
        self.script = list(script)
        self.beside = beside          # a name made beside the file (".local")
        self.read_only = read_only
        self.processes = processes
        self.block = block            # the configuration block's bytes, as they are
        self.env = list(env)          # NAME=VALUE for the run
        self.report = report          # the crash report's first line, when one is written
        # The dialog cases:
        self.entries = entries        # the archive's (name, bytes or FAKE), None: the default payload
        self.password = password      # the entries encrypted with it (traditional)
        self.windows = windows        # every window of the run in order: (caption part, text part)
        self.check = check            # check(run) -> faults, with the run's logs and folders
        self.exe = exe                # the packed file's name
        self.temp = temp              # TMP and TEMP point into the case's folder, with these in it
        self.out = out                # {name: text} already in the case's "out" folder
        self.before = before          # before(runner, folder), e.g. a registry change
        # The fake program drives the stub through several steps (the robot
        # answers each window once): its arguments, {exe} the packed file's name.
        self.driver = driver
        # An AUTO dialog is busy extracting from its first moment and may end
        # before the robot can read it: a run may then show no dialog at all.
        self.auto_dialog = auto_dialog


INSTALL_TEXTS = ["--command", "setup.exe", "--dialog-text", "Press Setup to install.",
                 "--options", "-win32 -setup -le"]
STANDARD_TEXTS = ["--folder", "C:\\Out", "--options", "-win32 -le"]

LONG_VALUE = "x" * 257

GROUPS = {
    # A good file of each mode reaches dialog 100; the CRC range and its flag.
    "startup": [
        Case("good-install", pack=INSTALL_TEXTS,
             dialog={101: "Press Setup to install.", 1: "&Setup"}),
        Case("good-standard", stub="std-basic-en", mode="standard", pack=STANDARD_TEXTS,
             dialog={106: "C:\\Out", 1: "&Unzip",
                     101: "To unzip all files in good-standard.exe to the specified folder"}),
        Case("good-german", stub="inst-basic-de", pack=INSTALL_TEXTS,
             dialog={101: "Press Setup to install.", 1: "&Installieren", 2: "Abbrechen"}),
        Case("changed byte inside the CRC range is refused", pack=INSTALL_TEXTS,
             post=flip_dos_stub, code=0, boxes=[(CAPTION, TEXT_CORRUPT)]),
        Case("CRC 0 means no check", pack=INSTALL_TEXTS + ["--no-crc"], post=flip_dos_stub,
             dialog={101: "Press Setup to install."}),
        Case("0x800 leaves the DOS header out of the CRC",
             pack=INSTALL_TEXTS + ["--flags", hex(FLAG_PE_SECTION)], post=flip_dos_stub,
             dialog={101: "Press Setup to install."}),
        Case("0x800 keeps the section table in the CRC",
             pack=INSTALL_TEXTS + ["--flags", hex(FLAG_PE_SECTION)], post=touch_section_table,
             boxes=[(CAPTION, TEXT_CORRUPT)]),
        Case("no usable temp folder: runs in place", pack=INSTALL_TEXTS, processes=1,
             env=["TMP=Z:\\no\\such\\folder", "TEMP=Z:\\no\\such\\folder"],
             dialog={101: "Press Setup to install."}),
        Case("a read-only original leaves no copy behind", pack=INSTALL_TEXTS, read_only=True,
             dialog={101: "Press Setup to install."}),
    ],
    # Every refusal shows its message and ends with 0.
    "refusals": [
        Case("truncated inside the end record", pack=INSTALL_TEXTS, post=truncate_into_end_record,
             boxes=[(CAPTION, TEXT_DAMAGED)]),
        Case("bad end-record signature", pack=INSTALL_TEXTS, post=break_end_signature,
             boxes=[(CAPTION, TEXT_DAMAGED)]),
        Case("a header never written", pack=INSTALL_TEXTS + ["--unwritten"],
             boxes=[(CAPTION, TEXT_INCOMPLETE)]),
        Case("-info works on a header never written", pack=INSTALL_TEXTS + ["--unwritten"],
             args="-info", boxes=[(CAPTION, "-win32 -setup -le")]),
        Case("wrong entry point", pack=INSTALL_TEXTS + ["--entry-point", "0x1234"],
             boxes=[(CAPTION, TEXT_DAMAGED)]),
        Case("configuration block that does not inflate", pack=INSTALL_TEXTS, code=0,
             boxes=[(CAPTION, TEXT_CORRUPT)], block=b"\xff" * 40),
        Case("configuration block longer than any builder writes", pack=INSTALL_TEXTS,
             boxes=[(CAPTION, TEXT_CORRUPT)], block=raw_deflate(b"") + bytes(1300)),
        Case("configuration block that inflates past its buffer", pack=INSTALL_TEXTS,
             boxes=[(CAPTION, TEXT_CORRUPT)], block=raw_deflate(b"\x41\x00" * 4000)),
        Case("configuration block of seven strings", pack=INSTALL_TEXTS,
             boxes=[(CAPTION, TEXT_CORRUPT)],
             block=raw_deflate("".join(t + "\0" for t in "abcdefg").encode("utf-16-le"))),
        Case("archive offset beyond the end of the file", pack=INSTALL_TEXTS,
             post=patch_record(12, lambda data: len(data) + 0x1000),
             boxes=[(CAPTION, TEXT_CORRUPT)]),
        Case("end-record offset beyond the end of the file", pack=INSTALL_TEXTS + ["--no-crc"],
             post=patch_record(20, lambda data: 0xFFFFFFF0), boxes=[(CAPTION, TEXT_DAMAGED)]),
        Case("an internal error writes the report and ends the run with 1",
             pack=INSTALL_TEXTS + ["--no-crc"], block=b"\xff" * 40, post=break_string_chain,
             code=1, boxes=[(CAPTION, INTERNAL_ERROR), (CAPTION, "QLSFX32.RPT")],
             report=INTERNAL_ERROR),
        Case(".local beside the stub ends it with 1, nothing loaded", pack=INSTALL_TEXTS,
             beside=".local", code=1, processes=1, env=["WINEDEBUG=+loaddll"],
             check=guard_loaded_nothing),
        Case(".local beside a standard-mode stub", stub="std-basic-en", mode="standard",
             pack=STANDARD_TEXTS, beside=".local", code=1, processes=1,
             env=["WINEDEBUG=+loaddll"], check=guard_loaded_nothing),
        # A DLL or function that cannot be bound is an internal error with its
        # report. The first instance needs SHLWAPI for its relaunch.
        Case("a function that cannot be bound", pack=INSTALL_TEXTS + ["--no-crc"],
             post=rename_in_image(b"PathFileExistsW\0", b"PathFileExistsX\0"), code=1, processes=1,
             boxes=[(CAPTION, BIND_ERROR % 24), (CAPTION, "QLSFX32.RPT")], report=BIND_ERROR % 24),
        Case("a DLL that cannot be loaded", pack=INSTALL_TEXTS + ["--no-crc"],
             post=rename_in_image(b"SHLWAPI.dll\0", b"SHLWAPX.dll\0"), code=1, processes=1,
             boxes=[(CAPTION, BIND_ERROR % 14), (CAPTION, "QLSFX32.RPT")], report=BIND_ERROR % 14),
        Case(".local beside the narrow stub", stub="inst-aes-en", pack=INSTALL_TEXTS,
             beside=".local", code=1, processes=1, env=["WINEDEBUG=+loaddll"],
             check=guard_loaded_nothing),
        # The narrow build says a broken chain of texts in a plain box and
        # goes on with the text it has.
        Case("narrow: a broken chain of texts is said, and the stub goes on", stub="inst-aes-en",
             pack=INSTALL_TEXTS + ["--no-crc"], block=b"\xff" * 40, post=break_string_chain,
             boxes=[("", "Internal error: string resource not found: 2003"),
                    (CAPTION, "uolla Self-Extractor header corrupt")]),
    ],
    # The start-up switches, and lines that once made the copy relaunch itself.
    "switches": [
        Case("-info after other words", pack=INSTALL_TEXTS, args="one two -info",
             boxes=[(CAPTION, "-win32 -setup -le")]),
        Case("-info in standard mode", stub="std-basic-en", mode="standard", pack=STANDARD_TEXTS,
             args="-INFO", boxes=[(CAPTION, "-win32 -le")]),
        Case("two good -args= values", pack=INSTALL_TEXTS, args='-args="a b" /ARGS="c"',
             dialog={101: "Press Setup to install."}),
        Case("-args= without its opening quote", pack=INSTALL_TEXTS, args="x -args=a b",
             boxes=[(CAPTION, TEXT_BAD_PARAMETER % "-args=a b")]),
        Case("-args= with an empty value", pack=INSTALL_TEXTS, args='-args="" y',
             boxes=[(CAPTION, TEXT_BAD_PARAMETER % '-args="" y')]),
        Case("-args= without its closing quote", pack=INSTALL_TEXTS, args='-args="open',
             boxes=[(CAPTION, TEXT_BAD_PARAMETER % '-args="open')]),
        Case("-args= too long for its buffer", pack=INSTALL_TEXTS, args='-args="%s"' % LONG_VALUE,
             boxes=[(CAPTION, TEXT_BAD_PARAMETER % ('-args="%s"' % LONG_VALUE))]),
        Case("German message for a bad -args=", stub="inst-basic-de", pack=INSTALL_TEXTS,
             args="-args=a", boxes=[(CAPTION, "Ungültiger Befehlszeilenparameter (-args=a).")]),
        Case("an odd quote runs the copy once", pack=INSTALL_TEXTS, args='odd "quote',
             dialog={101: "Press Setup to install."}),
        Case("a folder ending in a backslash runs the copy once", stub="std-basic-en",
             mode="standard", pack=STANDARD_TEXTS, args='"C:\\Out Dir\\"',
             dialog={106: "C:\\Out"}),
        Case("greeting OK/Cancel, Cancel ends before the dialog",
             pack=INSTALL_TEXTS + ["--greeting", "Hello there",
                                   "--flags", hex(FLAG_GREETING_BUTTONS | FLAG_GREETING_OK_CANCEL)],
             boxes=[(CAPTION, "Hello there")],
             script=["window", "text Hello there", "press-text Cancel"]),
        Case("greeting OK goes on to the dialog",
             pack=INSTALL_TEXTS + ["--greeting", "Hello there"],
             boxes=[(CAPTION, "Hello there")], dialog={101: "Press Setup to install."},
             script=["window", "text Hello there", "press-text OK"]),
    ],
}

SETUP_ENTRIES = [("setup.exe", FAKE), ("readme.txt", b"Quolla test payload\r\n" * 20)]


def install(dialog_text="Press Setup to install.", command="setup.exe", arguments="", flags=FLAG_AUTO,
            more=()):
    pack = ["--dialog-text", dialog_text, "--flags", hex(flags), "--about", "About this setup"]
    if command:
        pack += ["--command", command]
    if arguments:
        pack += ["--arguments", arguments]
    return pack + list(more)


def standard(folder="{out}", program="", arguments="", flags=0):
    pack = ["--folder", folder, "--flags", hex(flags)]
    if program:
        pack += ["--program", program]
    if arguments:
        pack += ["--arguments", arguments]
    return pack


STANDARD_ENTRIES = [("readme.txt", b"read me"), ("sub/b.txt", b"bee")]
DIALOG = "Self-Extractor - "

GROUPS.update({
    # Setup extracts into a new temporary folder, runs the command there,
    # waits for it and deletes the folder. Every case that runs a setup has a
    # TMP of its own: in the shared one another test's stub may take the
    # freed QLSEn.TMP name before the check looks for the folder.
    "install": [
        Case("a stub named setup.exe starts the setup.exe it brought, with -args=",
             temp=[], exe="setup.exe", entries=SETUP_ENTRIES, pack=install(arguments="sleep 300"),
             args='-args="extra words"', script=LEAVE_DIALOG,
             windows=[(DIALOG + "setup.exe", "Press Setup to install.")],
             dialog={1: "&Setup", 2: "Cancel", 112: "&About"}, processes=3,
             check=setup_ran("setup.exe sleep 300 extra words")),
        Case("WAIT: the button turns into Done, 1011 Yes ends the run", temp=[], entries=SETUP_ENTRIES, processes=3,
             pack=install(arguments="sleep 200", flags=FLAG_AUTO | FLAG_MANUAL_WAIT),
             script=["window", "caption " + DIALOG, "press-text Done",
                     "window", "text " + TEXT_SETUP_DONE, "press-text Yes"],
             windows=[(DIALOG, "Press Setup"), (CAPTION, TEXT_SETUP_DONE)],
             check=setup_ran("setup.exe sleep 200")),
        Case("Cancel while the command runs, 1017 Yes: the folder stays", temp=[], exe="cancel.exe", processes=3,
             entries=SETUP_ENTRIES, pack=install(arguments="click cancel.exe 2 sleep 3000"),
             script=["window", "text setup.exe is still running", "press-text Yes"] + LEAVE_DIALOG,
             windows=[(DIALOG, "Press Setup"), (CAPTION, "setup.exe is still running; if you cancel now")],
             check=setup_ran("setup.exe click cancel.exe 2 sleep 3000", folder_stays=True)),
        Case("About while the command runs", temp=[], exe="about.exe", entries=SETUP_ENTRIES, processes=3,
             pack=install(arguments="click about.exe 112 sleep 2500"),
             script=["window", "text " + PRODUCT_LINE, "text About this setup", "press-text OK"] + LEAVE_DIALOG,
             windows=[(DIALOG, "Press Setup"), (CAPTION, PRODUCT_LINE)],
             check=setup_ran("setup.exe click about.exe 112 sleep 2500")),
        # No command ran: the extracted files stay for the user.
        Case("no command: 1018, and the folder stays", entries=SETUP_ENTRIES, temp=[],
             pack=install(command=""), script=LEAVE_DIALOG,
             windows=[(DIALOG, "Press Setup"), (CAPTION, TEXT_NO_COMMAND)],
             check=folder_kept("readme.txt", "setup.exe")),
        Case("a command that cannot start: its error, and the folder stays", entries=SETUP_ENTRIES,
             temp=[], pack=install(command="missing.exe"), script=LEAVE_DIALOG,
             windows=[(DIALOG, "Press Setup"), (CAPTION, "")],
             check=folder_kept("readme.txt", "setup.exe")),
        Case("QLSE0.TMP to QLSE4.TMP taken: QLSE5.TMP", entries=SETUP_ENTRIES, processes=3,
             temp=["QLSE%d.TMP" % n for n in range(5)], pack=install(arguments="sleep 200"),
             script=LEAVE_DIALOG, windows=[(DIALOG, "Press Setup")],
             check=all_of(setup_ran("setup.exe sleep 200", folder=r"\\QLSE5\.TMP$"),
                          folders_exist(*["tmp/QLSE%d.TMP" % n for n in range(5)]))),
        Case("the wait name: the folder goes once its program has ended", temp=[], processes=4,
             entries=SETUP_ENTRIES + [("held.exe", b"MZ")],
             pack=install(arguments="spawn hold held.exe 12000", flags=FLAG_AUTO | FLAG_WAIT_NAME,
                          more=["--wait", "held"]),
             script=LEAVE_DIALOG, windows=[(DIALOG, "Press Setup")],
             check=setup_ran("setup.exe spawn hold held.exe 12000", runs=2)),
        Case("a locked file is left for the restart", temp=[], entries=SETUP_ENTRIES, processes=4,
             pack=install(arguments="spawn sleep 8000"), script=LEAVE_DIALOG,
             windows=[(DIALOG, "Press Setup")], check=locked_file_scheduled),
        Case("a link the setup made is removed, not followed", temp=[], entries=SETUP_ENTRIES, processes=3,
             before=lambda runner, folder: os.makedirs(os.path.join(folder, "outside")) or
                 open(os.path.join(folder, "outside", "keep.txt"), "w").write("keep"),
             pack=install(arguments="out {dir}\\fake.txt link linked {dir}\\outside"),
             script=LEAVE_DIALOG, windows=[(DIALOG, "Press Setup")],
             check=all_of(setup_ran("setup.exe out {dir}\\fake.txt link linked {dir}\\outside"),
                          files_are({"outside/keep.txt": "keep", "fake.txt": "link\n"}))),
    ],
    # Every stop path of a silent stub ends the run; WAIT is ignored.
    "silent": [
        Case("silent: no temporary folder, 1015, then the end", processes=1,
             env=["TMP=Z:\\no\\such\\folder", "TEMP=Z:\\no\\such\\folder"], entries=SETUP_ENTRIES,
             pack=install(flags=FLAG_SILENT), windows=[(CAPTION, TEXT_NO_TEMP)]),
        Case("silent: Cancel in the password dialog ends the run", entries=SETUP_ENTRIES,
             pack=install(flags=FLAG_SILENT | FLAG_ENCRYPTED),
             windows=[(PASSWORD_DIALOG, "password protected")]),
        Case("silent: WAIT is ignored", temp=[], entries=SETUP_ENTRIES, processes=3,
             pack=install(arguments="sleep 100", flags=FLAG_SILENT | FLAG_MANUAL_WAIT),
             windows=[], check=setup_ran("setup.exe sleep 100")),
        Case("silent standard: unzips and ends", stub="std-basic-en", mode="standard",
             entries=STANDARD_ENTRIES, pack=standard(flags=FLAG_SILENT), windows=[],
             check=files_are({"out/readme.txt": "read me", "out/sub/b.txt": "bee"})),
        Case("silent standard: Cancel in the password dialog ends the run", stub="std-basic-en",
             mode="standard", entries=STANDARD_ENTRIES, pack=standard(flags=FLAG_SILENT | FLAG_ENCRYPTED),
             windows=[(PASSWORD_DIALOG, "password protected")], check=files_are({"out/readme.txt": None})),
        Case("not silent: no temporary folder, 1015, Cancel ends", processes=1,
             env=["TMP=Z:\\no\\such\\folder", "TEMP=Z:\\no\\such\\folder"], entries=SETUP_ENTRIES,
             pack=install(), windows=[(DIALOG, "Press Setup"), (CAPTION, TEXT_NO_TEMP)]),
    ],
    # The password dialog, answered by the robot.
    "password": [
        Case("the right password", temp=[], stub="inst-aes-en", entries=SETUP_ENTRIES, password="secret", processes=3,
             pack=install(arguments="sleep 100", flags=FLAG_AUTO | FLAG_ENCRYPTED), auto_dialog=True,
             script=["window", "caption " + PASSWORD_DIALOG, "set 402 secret", "press 1"] + LEAVE_DIALOG,
             windows=[(DIALOG, "Press Setup"), (PASSWORD_DIALOG, "Please type the &password:")],
             check=setup_ran("setup.exe sleep 100")),
        Case("a wrong password: the engine's message, the folder deleted", stub="inst-aes-en",
             entries=SETUP_ENTRIES, password="secret",
             pack=install(arguments="sleep 100", flags=FLAG_AUTO | FLAG_ENCRYPTED), auto_dialog=True,
             script=["window", "caption " + PASSWORD_DIALOG, "set 402 wrong", "press 1"] + LEAVE_DIALOG,
             windows=[(DIALOG, "Press Setup"), (PASSWORD_DIALOG, "password"),
                      (CAPTION, "Incorrect password specified")],
             check=lambda run: ["the setup ran"] if run.fake else []),
        Case("German: Kennwort", temp=[], stub="inst-aes-de", entries=SETUP_ENTRIES, password="geheim", processes=3,
             pack=install(arguments="sleep 100", flags=FLAG_AUTO | FLAG_ENCRYPTED), auto_dialog=True,
             script=["window", "caption Quolla Self-Extractor - Kennwort", "set 402 geheim", "press-text OK"]
                    + LEAVE_DIALOG,
             windows=[(DIALOG, "Press Setup"), ("Quolla Self-Extractor - Kennwort", "&Kennwort ein:")],
             check=setup_ran("setup.exe sleep 100")),
    ],
    # Unzip to the "Unzip To" folder, the open-when-done rule, the prompts.
    "standard": [
        Case("AUTO with a quoted folder that has a blank", stub="std-basic-en", mode="standard",
             entries=STANDARD_ENTRIES, pack=standard(folder="C:\\Unused"), args='/AUTO "{dir}\\out dir"',
             windows=[(DIALOG, "To unzip all files in")], auto_dialog=True,
             check=files_are({"out dir/readme.txt": "read me", "out dir/sub/b.txt": "bee"})),
        Case("Unzip: the count, then the program run when done in the folder", processes=3,
             stub="std-basic-en", mode="standard", entries=STANDARD_ENTRIES + [("fake.exe", FAKE)],
             pack=standard(program="fake.exe", arguments="done"), args='-args="and more"',
             script=["window", "caption " + DIALOG, "press 1"],
             windows=[(DIALOG, "To unzip all files in"), (CAPTION, "3 file(s) unzipped successfully")],
             dialog={111: "When &done unzipping run: fake.exe", 103: "", 102: "&Overwrite files without prompting"},
             check=all_of(files_are({"out/readme.txt": "read me", "out/sub/b.txt": "bee"}),
                          fake_logged(" done and more", folder="{out}"))),
        Case("overwrite prompts: Yes, No, then Cancel", stub="std-basic-en", mode="standard",
             entries=[("a.txt", b"new"), ("b.txt", b"new"), ("c.txt", b"new"), ("d.txt", b"new")],
             out={"a.txt": "old", "b.txt": "old", "c.txt": "old"}, pack=standard(),
             script=["window", "caption " + DIALOG, "press 1",
                     "window", "text a.txt already exists", "press-text Yes",
                     "window", "text b.txt already exists", "press-text No",
                     "window", "text c.txt already exists", "press-text Cancel"],
             windows=[(DIALOG, "To unzip"), (CAPTION, "a.txt already exists.  Overwrite file?"),
                      (CAPTION, "b.txt already exists"), (CAPTION, "c.txt already exists")],
             check=files_are({"out/a.txt": "new", "out/b.txt": "old", "out/c.txt": "old", "out/d.txt": None})),
        Case("a program of 10 characters stays in the label", stub="std-basic-en", mode="standard",
             entries=STANDARD_ENTRIES, pack=standard(program="abcdef.exe"), boxes=[],
             dialog={111: "When &done unzipping run: abcdef.exe"}),
        Case("a program of 11 characters goes beside it", stub="std-basic-en", mode="standard",
             entries=STANDARD_ENTRIES, pack=standard(program="abcdefg.exe"), boxes=[],
             dialog={111: "When &done unzipping run: ", 103: "abcdefg.exe"}),
        Case("no program: no run box", stub="std-basic-en", mode="standard", entries=STANDARD_ENTRIES,
             pack=standard(), boxes=[], dialog={111: None, 113: "Run &Quolla", 104: "&Help"}),
        Case("a name of 24 characters is shown", stub="std-basic-en", mode="standard",
             exe="abcdefghijklmnopqrst.exe", entries=STANDARD_ENTRIES, pack=standard(), boxes=[],
             dialog={101: "To unzip all files in abcdefghijklmnopqrst.exe to the specified folder"}),
        Case("a name of 25 characters is not", stub="std-basic-en", mode="standard",
             exe="abcdefghijklmnopqrstu.exe", entries=STANDARD_ENTRIES, pack=standard(), boxes=[],
             dialog={101: "To unzip all files in this self-extractor file to the specified folder"}),
        Case("the folder \".\" is the one the stub was started from", stub="std-basic-en",
             mode="standard", entries=STANDARD_ENTRIES, pack=standard(folder="."), boxes=[], dialog={},
             check=dialog_folder_is(lambda run: winpath(run.folder))),
        Case("a relative folder is taken from there too, and unzipped into", stub="std-basic-en",
             mode="standard", entries=STANDARD_ENTRIES, pack=standard(folder="sub dir", flags=FLAG_AUTO),
             windows=[(DIALOG, "To unzip")], auto_dialog=True,
             check=all_of(dialog_folder_is(lambda run: winpath(run.path("sub dir"))),
                          files_are({"sub dir/readme.txt": "read me"}))),
        Case("no folder: the temporary folder", stub="std-basic-en", mode="standard",
             entries=STANDARD_ENTRIES, pack=standard(folder=""), boxes=[], dialog={106: "\\Temp"}),
        Case("Help, then Close", stub="std-basic-en", mode="standard", entries=STANDARD_ENTRIES,
             pack=standard(), processes=3, driver=["waitenabled", "{exe}", "click", "{exe}", "104",
                                                   "waitfor", CAPTION, "waitenabled", "{exe}",
                                                   "click", "{exe}", "2"],
             script=LEAVE_DIALOG, windows=[(DIALOG, "To unzip"), (CAPTION, 'press the "Unzip" button.')]),
    ],
    # Run Quolla: the main archiver's open command from the registry (one
    # case at a time: they share the key).
    "archiver": [
        Case("no main archiver: 1038, the dialog stays", stub="std-basic-en", mode="standard",
             entries=STANDARD_ENTRIES, pack=standard(), processes=3, before=set_archiver(None),
             driver=["waitenabled", "{exe}", "click", "{exe}", "113", "waitfor", CAPTION,
                     "waitenabled", "{exe}", "click", "{exe}", "2"],
             script=LEAVE_DIALOG, windows=[(DIALOG, "To unzip"), (CAPTION, TEXT_NO_ARCHIVER)]),
        Case("the fake main archiver opens the file the user started", stub="std-basic-en",
             mode="standard", exe="with blank.exe", entries=STANDARD_ENTRIES, pack=standard(),
             before=set_archiver('"{fake}" "%1"'),
             script=["window", "caption " + DIALOG, "press 113"], processes=3,
             windows=[(DIALOG, "To unzip")], check=fake_logged('"{dir}\\with blank.exe"')),
    ],
    # The German variants: captions and buttons as a German user reads them.
    "german": [
        Case("German standard dialog", stub="std-basic-de", mode="standard", entries=STANDARD_ENTRIES,
             pack=standard(program="fake.exe"), boxes=[],
             dialog={1: "&Entpacken", 2: "&Schließen", 105: "In &Ordner entpacken:", 115: "&Durchsuchen...",
                     102: "Vorhandene Dateien ohne Rück&frage überschreiben", 113: "&Quolla starten",
                     112: "Ü&ber", 104: "&Hilfe", 111: "Nach dem Entpacken &ausführen: fake.exe",
                     101: "Klicken Sie auf „Entpacken“, um alle Dateien aus dieser selbstextrahierenden Datei"}),
        Case("German installation: Fertig, then the question", temp=[], stub="inst-basic-de", entries=SETUP_ENTRIES, processes=3,
             pack=install(arguments="sleep 200", flags=FLAG_AUTO | FLAG_MANUAL_WAIT),
             script=["window", "caption " + DIALOG, "press-text Fertig",
                     "window", "text Ist das SETUP-Programm wirklich beendet?", "press-text Yes"],
             windows=[(DIALOG, "Press Setup"), (CAPTION, "Ist das SETUP-Programm wirklich beendet?")],
             dialog={2: "Abbrechen", 112: "Ü&ber"}, check=setup_ran("setup.exe sleep 200")),
        Case("German: the count, and the dialog stays", stub="std-basic-de", mode="standard",
             entries=STANDARD_ENTRIES, pack=standard(), processes=3,
             driver=["waitenabled", "{exe}", "click", "{exe}", "1", "waitfor", CAPTION,
                     "waitenabled", "{exe}", "click", "{exe}", "2"], script=LEAVE_DIALOG,
             windows=[(DIALOG, "Klicken Sie"), (CAPTION, "2 Datei(en) erfolgreich entpackt")],
             check=files_are({"out/readme.txt": "read me"})),
    ],
})
# Groups whose cases must not overlap.
SEQUENTIAL = {"archiver"}


class Runner:
    def __init__(self, args):
        self.args = args
        self.work = args.work
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.zip = os.path.join(self.work, "payload.zip")
        with zipfile.ZipFile(self.zip, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("readme.txt", "Quolla test payload\r\n" * 20)
            z.writestr("setup.exe", b"MZ" + bytes(100))
        prefix = os.path.join(args.wine_state, "prefix")
        self.temp_folders = sorted(glob.glob(os.path.join(prefix, "drive_c", "users", "*", "Temp")) +
                                   glob.glob(os.path.join(prefix, "drive_c", "users", "*",
                                                          "AppData", "Local", "Temp")))
        self.prefix = prefix
        # Every crash report is one file on the desktop: the cases that write
        # one run one at a time.
        self.report_lock = threading.Lock()

    def set_windows_version(self, programs, version):
        """Wine's per-program Windows version for these program names, or
        none (the session's own) again."""
        lines = ["REGEDIT4", ""]
        for name in programs:
            key = r"[%sHKEY_CURRENT_USER\Software\Wine\AppDefaults\%s]" % ("" if version else "-", name)
            lines += [key] + (['"Version"="%s"' % version] if version else []) + [""]
        path = os.path.join(self.work, "version.reg")
        with open(path, "w", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        subprocess.run([self.args.wine, "regedit", "/S", winpath(path)], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)

    def reported_version(self, probe):
        """The version the fake program reports under the name `probe`: None
        unless it is one of the 9x family (platform 1)."""
        path = os.path.join(self.work, probe)
        shutil.copyfile(self.args.fake, path)
        out = os.path.join(self.work, "version.txt")
        subprocess.run([self.args.wine, path, "out", winpath(out), "version"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
        try:
            with open(out, encoding="utf-8") as f:
                words = f.read().split()
        except OSError:
            return None
        return words[1] if len(words) == 3 and words[2] == "1" else None

    def tool(self, name):
        return os.path.join(self.args.tools, name)

    def unix_path(self, windows_path):
        """C:\\users\\... inside the prefix, or Z:\\..., as a Unix path."""
        if len(windows_path) > 2 and windows_path[1] == ":" and windows_path[0].upper() == "C":
            return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))
        if len(windows_path) > 2 and windows_path[1] == ":" and windows_path[0].upper() == "Z":
            return "/" + "/".join(windows_path[3:].split("\\"))
        return None

    def temp_listing(self):
        """What a stub may leave in the temp folder: relaunch folders (hexadecimal
        names), extraction folders and crash reports. Other tests of the tree
        may use the folder meanwhile."""
        def ours(name):
            upper = name.upper()
            return (all(c in "0123456789ABCDEF" for c in upper) or
                    (upper.startswith("QLSE") and upper.endswith(".TMP")) or upper == "QLSFX32.RPT")
        return {folder: sorted(n for n in os.listdir(folder) if ours(n)) for folder in self.temp_folders}

    def archive(self, case, folder):
        """The case's own archive, or the shared payload."""
        if case.entries is None:
            return self.zip
        path = os.path.join(folder, "payload.zip")
        entries = [(name, self.fake_bytes() if data is FAKE else data) for name, data in case.entries]
        if case.password is None:
            with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
                for name, data in entries:
                    z.writestr(name, data)
            return path
        # Python writes no encrypted entries; Info-ZIP does (traditional encryption).
        source = os.path.join(folder, "payload")
        for name, data in entries:
            os.makedirs(os.path.dirname(os.path.join(source, name)) or source, exist_ok=True)
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        subprocess.run(["zip", "-q", "-r", "-P", case.password, path] + [n for n, _ in entries],
                       cwd=source, check=True, timeout=60)
        return path

    def fake_bytes(self):
        with open(self.args.fake, "rb") as f:
            return f.read()

    def make(self, case, folder):
        stub = os.path.join(self.args.stubs, "SFXHDR_%s.exe" % case.stub)
        out = os.path.join(folder, case.exe or slug(case.name) + ".exe")
        options = ["--mode", case.mode] + [expand(o, folder) for o in case.pack]
        if case.block is not None:
            block = os.path.join(folder, "block.bin")
            with open(block, "wb") as f:
                f.write(case.block)
            options += ["--block-file", block]
        run = subprocess.run([sys.executable, self.tool("sfxpack.py"), stub, self.archive(case, folder), out] + options,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if run.returncode != 0:
            return None, "packer: %s" % run.stdout.decode()
        # A file the packer made well must pass the checker; broken ones are made after.
        check = subprocess.run([sys.executable, self.tool("sfxcheck.py"), out],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if case.block is None and "--unwritten" not in case.pack and "--entry-point" not in case.pack \
                and check.returncode != 0:
            return None, "checker refused the packed file: %s" % check.stdout.decode()
        if case.post is not None:
            with open(out, "rb") as f:
                data = case.post(f.read())
            with open(out, "wb") as f:
                f.write(data)
        if case.beside:
            os.makedirs(out + case.beside)
            # DLLs it could redirect: any DLL will do, since none may be loaded.
            if self.args.dll:
                for name in REDIRECTABLE:
                    shutil.copyfile(self.args.dll, os.path.join(out + case.beside, name))
        if case.read_only:
            os.chmod(out, 0o444)
        return out, None

    def run(self, case):
        """Runs one case; answers the list of its faults."""
        if case.report is None:
            return self.run_case(case)
        with self.report_lock:
            return self.run_case(case)

    def run_case(self, case):
        folder = os.path.join(self.work, slug(case.name))
        os.makedirs(folder)
        exe, fault = self.make(case, folder)
        if fault:
            return [fault]
        line = '"%s"' % winpath(exe) + (" " + expand(case.args, folder) if case.args else "")
        if case.driver is not None:
            driver = os.path.join(folder, "driver.exe")
            shutil.copyfile(self.args.fake, driver)
            name = os.path.basename(exe)
            line = '"%s" start "%s" ' % (winpath(driver), winpath(exe)) + " ".join(
                '"%s"' % a.replace("{exe}", name) if " " in a else a.replace("{exe}", name)
                for a in case.driver)
        with open(os.path.join(folder, "line.txt"), "w", encoding="utf-8", newline="") as f:
            f.write(line)
        script = ["default cancel 300"] + case.script
        with open(os.path.join(folder, "script.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        log_path = os.path.join(folder, "log.jsonl")
        env = ["-env", "QLFAKE_LOG=" + winpath(os.path.join(folder, "fake.jsonl"))]
        for item in case.env:
            env += ["-env", expand(item, folder)]
        if case.temp is not None:
            temp = os.path.join(folder, "tmp")
            os.makedirs(temp)
            for name in case.temp:
                os.makedirs(os.path.join(temp, name))
            env += ["-env", "TMP=" + winpath(temp), "-env", "TEMP=" + winpath(temp)]
        if case.out is not None:
            os.makedirs(os.path.join(folder, "out"))
            for name, text in case.out.items():
                with open(os.path.join(folder, "out", name), "w") as f:
                    f.write(text)
        if case.before is not None:
            case.before(self, folder)
        run = launch(self.args.wine, self.args.launcher, ["-timeout", str(RUN_DEADLINE)] + env + [
                     "-script", os.path.join(folder, "script.txt"), "-log", log_path,
                     "-cmdfile", os.path.join(folder, "line.txt")],
                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_DEADLINE + 60)
        output = run.stdout.decode("utf-8", "replace")
        faults = []
        if case.read_only:
            os.chmod(exe, 0o644)
        if run.returncode != case.code:
            faults.append("exit code %d, wanted %d (output %r)" % (run.returncode, case.code, output))
        try:
            with open(log_path, encoding="utf-8") as f:
                log = [json.loads(l) for l in f]
        except OSError:
            return faults + ["no run log"]
        windows = [e for e in log if e["event"] == "window"]
        exits = [e for e in log if e["event"] == "exit"]
        if len(exits) != case.processes:
            faults.append("%d processes ran, wanted %d: %r" % (len(exits), case.processes,
                                                               [e["image"] for e in exits]))
        # The first instance ends last and hands on the copy's exit code.
        if len(exits) == 2 and exits[0]["code"] != exits[1]["code"]:
            faults.append("the copy ended with %d, the first instance with %d" %
                          (exits[0]["code"], exits[1]["code"]))
        # Every relaunch folder is gone once the run has ended.
        for e in exits:
            path = self.unix_path(e["image"])
            folder_name = os.path.basename(os.path.dirname(path)) if path else ""
            if folder_name and all(c in "0123456789abcdef" for c in folder_name) and \
                    os.path.exists(os.path.dirname(path)):
                faults.append("relaunch folder left behind: %s" % e["image"])
        if case.windows is not None:
            wanted = case.windows
            if case.auto_dialog and len(windows) == len(wanted) - 1:
                wanted = wanted[1:]
            faults += check_windows(windows, wanted, any_order=case.auto_dialog)
        if case.check is not None:
            faults += case.check(RunFacts(self, case, folder, log, windows, exe, output))
        if case.windows is not None:
            if case.dialog is not None and windows:
                faults += check_dialog(windows[0], case.dialog)
            return faults
        wanted = len(case.boxes) + (1 if case.dialog is not None else 0)
        if len(windows) != wanted:
            faults.append("%d windows, wanted %d: %r" % (len(windows), wanted,
                                                         [(w["caption"], texts(w)) for w in windows]))
            return faults
        for window, (caption, text) in zip(windows, case.boxes):
            if caption not in window["caption"] or not any(text in t for t in texts(window)):
                faults.append("window %r %r, wanted %r with %r" % (window["caption"], texts(window),
                                                                    caption, text))
        if case.report is not None:
            faults += self.check_report(windows[-1], case.report)
        if case.dialog is not None:
            faults += check_dialog(windows[-1], case.dialog)
        return faults


    def check_report(self, box, first_line):
        """The box names the report by its full path; the file starts with the
        internal-error text. The report is removed again."""
        named = [line for t in texts(box) for line in t.split("\n") if line.endswith("QLSFX32.RPT")]
        if not named:
            return ["the report box names no report: %r" % texts(box)]
        path = self.unix_path(named[0])
        if path is None or not os.path.exists(path):
            return ["no report at %r" % named[0]]
        with open(path, "rb") as f:
            report = f.read().decode("cp1252")
        os.remove(path)
        lines = report.split("\r\n")
        faults = []
        if lines[0] != first_line:
            faults.append("report begins with %r" % lines[0])
        if "Module name = " not in report or "Current date/time: " not in report:
            faults.append("report without its header lines: %r" % report)
        return faults


def texts(window):
    return [c["text"] for c in window["controls"]]


def check_dialog(dialog, wanted):
    """Each {control id: text part} of the dialog; a None part: the control is hidden."""
    faults = []
    controls = {c["id"]: c for c in dialog["controls"]}
    for control, text in wanted.items():
        found = controls.get(control)
        if text is None:
            if found is not None and found["visible"]:
                faults.append("dialog control %d is shown (%r), wanted hidden" % (control, found["text"]))
        elif found is None or text not in found["text"]:
            faults.append("dialog control %d is %r, wanted %r" %
                          (control, found and found["text"], text))
    if not dialog["caption"]:
        faults.append("dialog without caption")
    return faults


def check_windows(windows, wanted, any_order=False):
    """The run's windows, in order, each (caption part, text part). With
    any_order (an AUTO dialog and the window it opens at once may be seen in
    either order) each wanted window must match a different seen one."""
    seen = [(w["caption"], texts(w)) for w in windows]
    if len(windows) != len(wanted):
        return ["%d windows, wanted %d: %r" % (len(windows), len(wanted), seen)]
    if any_order:
        left = list(seen)
        for want_caption, want_text in wanted:
            match = next((w for w in left if want_caption in w[0] and any(want_text in t for t in w[1])), None)
            if match is None:
                return ["no window %r with %r among %r" % (want_caption, want_text, seen)]
            left.remove(match)
        return []
    faults = []
    for (caption, controls), (want_caption, want_text) in zip(seen, wanted):
        if want_caption not in caption or not any(want_text in t for t in controls):
            faults.append("window %r %r, wanted %r with %r" % (caption, controls, want_caption, want_text))
    return faults


def slug(name):
    return "".join(c if c.isalnum() else "-" for c in name)[:48].strip("-")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--wine", required=True)
    parser.add_argument("--wine-state", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--stubs", required=True)
    parser.add_argument("--tools", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--fake", help="the fake program: setup command, program and archiver")
    parser.add_argument("--dll", help="a DLL to put where a .local folder could redirect one")
    parser.add_argument("--jobs", type=int, default=4)
    parser.add_argument("--stub", help="run the cases of the English installation stub on this variant instead "
                                       "(the narrow-character build)")
    parser.add_argument("--windows-version", help="the Windows version Wine reports to the stubs of the run "
                                                  "(win98, say); cases whose file needs a name of its own are "
                                                  "left out")
    parser.add_argument("--only", help="run only the cases whose name holds this text")
    args = parser.parse_args()

    runner = Runner(args)
    before = runner.temp_listing()
    cases = [c for c in GROUPS[args.group] if not args.only or args.only in c.name]
    if args.stub:
        cases = [copy.copy(c) for c in cases]
        for c in cases:
            if c.stub == "inst-basic-en":
                c.stub = args.stub
    if args.windows_version:
        # Wine takes the version by program name: names of this run alone
        # leave every other test of the session with its own version.
        cases = [copy.copy(c) for c in cases if c.exe is None]
        for c in cases:
            c.exe = "%s-%s.exe" % (args.windows_version, slug(c.name))
        probe = "%s-probe.exe" % args.windows_version
        runner.set_windows_version([c.exe for c in cases] + [probe], args.windows_version)
        reported = runner.reported_version(probe)
        if reported is None:
            runner.set_windows_version([c.exe for c in cases] + [probe], None)
            print("Wine does not report the version %s here: the cases are left out" % args.windows_version)
            return 0
        print("Wine reports the version as %s" % reported)
    # The robot answers only the windows of its own run, so runs may overlap.
    jobs = 1 if args.group in SEQUENTIAL else args.jobs
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        results = list(pool.map(runner.run, cases))
    failed = 0
    for case, faults in zip(cases, results):
        status = "ok" if not faults else "FAILED"
        print("%-60s %s" % (case.name, status))
        for fault in faults:
            print("    " + fault)
        failed += bool(faults)
    if args.windows_version:
        runner.set_windows_version([c.exe for c in cases] + [probe], None)
    after = runner.temp_listing()
    if after != before:
        print("the temp folder changed: before %r, after %r" % (before, after))
        failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
