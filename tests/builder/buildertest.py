#!/usr/bin/env python3
"""Start-up cases of the builder under Wine: the distribution layout (builder,
QLSE32.DLL and quollase.chm side by side) or a layout broken on purpose, a
command line, and what came of it: the exit code, the ids of the messages the
builder showed (recorded through QL_MESSAGE_LOG instead of shown) and the
option record it reached (written through QL_OPTIONS_DUMP).

usage: buildertest.py GROUP --wine QL_WINE --wine-state DIR --builder EXE --helper DLL
                      --help-file CHM --tracecheck EXE [--library NAME=DLL]... --work DIR
GROUP: startup, commandline or report.
"""
import argparse
import concurrent.futures
import glob
import os
import shutil
import subprocess
import sys

RUN_DEADLINE = 120
COMMAND_LINE_LIMIT = 1022

# Exit codes (README.md, "Exit codes of the builder").
NOTHING_TO_BUILD, BUILT, BUILD_FAILED, REFUSED, STARTUP_FAILED = range(5)
INTERNAL_ERROR = 1
# Stands last in a case's messages that reaches the build: what the build
# itself shows is not these cases' business (their Zip files do not exist, so
# every build fails).
BUILD = "build"


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def utf16(text, mark=True):
    return (b"\xff\xfe" if mark else b"") + text.encode("utf-16-le")


def utf8(text, mark=True):
    return (b"\xef\xbb\xbf" if mark else b"") + text.encode("utf-8")


def unescape(value):
    out, i = [], 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}.get(value[i + 1], value[i + 1]))
            i += 2
        else:
            out.append(value[i])
            i += 1
    return "".join(out)


def read_message_log(path):
    """The boxes of a QL_MESSAGE_LOG file in order: [id, answer, text as logged]."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        shown = [line.rstrip("\n").split("\t", 2) for line in f if line.strip()]
    return [[int(entry[0])] + entry[1:] for entry in shown]


def read_options(path):
    """The fields of a QL_OPTIONS_DUMP file."""
    record = {}
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                key, _, value = line.rstrip("\n").partition("=")
                record[key] = unescape(value)
    return record


class Case:
    def __init__(self, name, args, exit_code, messages, layout=None, files=None, record=None,
                 program=None, before=None, report=None):
        self.name = name
        self.args = args            # list, or a function of the case folder
        self.exit_code = exit_code
        self.messages = messages    # ids in the order shown
        self.layout = layout or {}  # builder name, library, help file
        self.files = files or {}    # name -> bytes, in the case folder
        self.record = record or {}  # option-record field -> value (or a test function)
        self.program = program      # tracecheck instead of the builder
        self.before = before        # run before the program, with the runner
        self.report = report        # the report file's expected lines (report group)


class Runner:
    def __init__(self, args):
        self.args = args
        self.libraries = dict(item.split("=", 1) for item in args.library)
        os.makedirs(args.work, exist_ok=True)

    def folder(self, case):
        return os.path.join(self.args.work, case.name)

    def lay_out(self, case):
        folder = self.folder(case)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        builder = case.layout.get("builder", "qlxtra32.exe")
        os.link(self.args.builder, os.path.join(folder, builder))
        library = case.layout.get("library", "sound")
        if library != "missing":
            source = self.args.helper if library == "sound" else self.libraries[library]
            shutil.copy(source, os.path.join(folder, "QLSE32.DLL"))
        if case.layout.get("help", True):
            shutil.copy(self.args.help_file, os.path.join(folder, "quollase.chm"))
        for name, data in case.files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data(folder) if callable(data) else data)
        return folder, os.path.join(folder, builder)

    def desktop(self):
        found = glob.glob(os.path.join(self.args.wine_state, "prefix", "drive_c", "users", "*", "Desktop"))
        found = [d for d in found if not os.path.basename(os.path.dirname(d)).lower() == "public"]
        return os.path.realpath(found[0]) if found else None

    def run(self, case):
        folder, program = self.lay_out(case)
        if case.program:
            program = case.program
        log = os.path.join(folder, "messages.log")
        dump = os.path.join(folder, "options.txt")
        env = dict(os.environ, QL_MESSAGE_LOG=winpath(log), QL_OPTIONS_DUMP=winpath(dump))
        if case.before:
            case.before(self)
        args = case.args(folder) if callable(case.args) else case.args
        run = subprocess.run([self.args.wine, program] + args, env=env, cwd=folder,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_DEADLINE)
        problems = []
        if run.returncode != case.exit_code:
            problems.append("exit code %d, expected %d" % (run.returncode, case.exit_code))
        shown = read_message_log(log)
        ids = [entry[0] for entry in shown]
        record = read_options(dump)
        expected = case.messages
        if expected and expected[-1] == BUILD:
            expected = expected[:-1]
            ids = ids[:len(expected)]
            if record.get("stage") != "build":
                problems.append("the build was not reached (stage %r)" % record.get("stage"))
        if ids != expected:
            problems.append("messages %s, expected %s: %s" % (ids, case.messages, shown))
        for field, expected in case.record.items():
            got = record.get(field)
            ok = expected(got) if callable(expected) else got == expected
            if not ok:
                problems.append("%s = %r, expected %r" % (field, got, expected))
        if case.report is not None:
            problems += self.check_report(case)
        if problems:
            output = run.stdout.decode("utf-8", "replace")[-2000:]
            return "%s: %s\n%s" % (case.name, "; ".join(problems), output)
        return None

    def check_report(self, case):
        desktop = self.desktop()
        path = os.path.join(desktop, "QLSE32.RPT") if desktop else None
        if case.report is False:
            return [] if path is None or not os.path.isfile(path) else ["a report was written"]
        if path is None or not os.path.isfile(path):
            return ["no report on the desktop (%s)" % desktop]
        with open(path, encoding="cp1252") as f:
            text = f.read()
        problems = ["report lacks %r" % line for line in case.report if line not in text]
        if text.count("Return address = ") > 64:
            problems.append("report lists more than 64 return addresses")
        return problems


def remove_report(runner):
    desktop = runner.desktop()
    target = os.path.join(desktop, "QLSE32.RPT")
    if os.path.isdir(target):
        os.rmdir(target)
    elif os.path.exists(target):
        os.remove(target)


def block_report(runner):
    remove_report(runner)
    os.makedirs(os.path.join(runner.desktop(), "QLSE32.RPT"))


def length_case(name, module_folder_of, exit_code, messages, extra):
    """A command line whose length with the builder's path is the limit + extra."""
    def args(folder):
        module = len(winpath(os.path.join(folder, "qlxtra32.exe")))
        total = COMMAND_LINE_LIMIT - 1 - module + extra
        head = "a.zip -y -k"
        return ["a.zip", "-y", "-k" + "k" * (total - len(head))]
    return Case(name, args, exit_code, messages)


def startup_cases(runner):
    build = [BUILD]
    return [
        # Past every start-up check (the wizard, which opens without a Zip
        # name, is driven by the wizard's own tests).
        Case("sound-layout-reaches-the-build", ["a.zip", "-y"], BUILD_FAILED, build, record={"stage": "build"}),
        Case("library-missing", [], STARTUP_FAILED, [6260], layout={"library": "missing"}),
        Case("library-without-unzip", [], STARTUP_FAILED, [6260], layout={"library": "no_unzip"}),
        Case("library-older-than-builder-accepts", [], STARTUP_FAILED, [6240], layout={"library": "old_major"}),
        Case("library-without-version", [], STARTUP_FAILED, [6240], layout={"library": "no_version"}),
        Case("library-rejects-builder", [], STARTUP_FAILED, [6250], layout={"library": "rejects_builder"}),
        Case("library-names-no-builder", [], STARTUP_FAILED, [6250], layout={"library": "no_builder_value"}),
        # The English builder looks in the English table only.
        Case("library-with-german-table-only", [], STARTUP_FAILED, [6250], layout={"library": "german_table"}),
        Case("builder-renamed", [], STARTUP_FAILED, [6250], layout={"builder": "qlxtra33.exe"}),
        Case("help-file-missing", ["a.zip", "-y"], STARTUP_FAILED, [4350], layout={"help": False}),
        Case("setup-alone", ["-setup"], NOTHING_TO_BUILD, []),
        Case("setup-alone-any-case", ["-SeTuP"], NOTHING_TO_BUILD, []),
        Case("setup-start-menu", ["-setupSM"], NOTHING_TO_BUILD, []),
        length_case("command-line-at-the-limit", None, STARTUP_FAILED, [4880], 0),
        length_case("command-line-below-the-limit", None, BUILD_FAILED, build, -1),
        Case("dialog-text-without-setup", ["a.zip", "-t", "dlg.txt"], REFUSED, [4610],
             files={"dlg.txt": b"Install me"}),
        Case("wait-without-setup", ["a.zip", "-wait", "prog"], REFUSED, [4610]),
        Case("setup-without-command", ["a.zip", "-setup"], REFUSED, [4590]),
        # The command check: not the self-extractor itself, and a program that runs.
        Case("setup-command-is-the-zip", ["setup.zip", "-setup", "-c", "Setup.exe"], REFUSED, [5090]),
        Case("setup-command-not-runnable", ["a.zip", "-setup", "-c", "readme.txt"], REFUSED, [6210]),
        Case("setup-command-inf", ["a.zip", "-setup", "-c", "install.inf"], BUILD_FAILED, build,
             record={"command": "install.inf"}),
        Case("ishield3-waits-for-isdel", ["a.zip", "-ishield3"], BUILD_FAILED, build,
             record={"wait_name": "_ISDEL", "command": "setup", "installation_mode": "1"}),
        Case("build-without-zip-name", ["-y"], REFUSED, [1017]),
        Case("build-adds-zip-extension", ["archive", "-y"], BUILD_FAILED, build,
             record={"zip_name": lambda v: v is not None and v.endswith("\\archive.zip") and v[1] == ":",
                     "from_command_line": "1", "stage": "build"}),
        Case("usage", ["-?"], NOTHING_TO_BUILD, [1005, 1007]),
        Case("switch-error-refuses", ["a.zip", "-wait"], REFUSED, [4700]),
        Case("unknown-switch-goes-on", ["a.zip", "-q", "-y"], BUILD_FAILED, [1015, BUILD]),
    ]


def commandline_cases(runner):
    build = [BUILD]
    nested = lambda folder: ("-k @" + winpath(os.path.join(folder, "inner.rsp"))).encode()
    looping = lambda folder: ("-v @" + winpath(os.path.join(folder, "loop.rsp"))).encode()
    return [
        Case("response-file-ansi-with-line-ends", ["@plain.rsp"], BUILD_FAILED, build,
             files={"plain.rsp": b"a.zip\r\n-lg\t-st \"Two words\"\r\n-y\r\n"},
             record={"language": "1", "title": "Two words", "prompts_off": "1"}),
        Case("response-file-utf16-with-mark", ["@u16.rsp"], BUILD_FAILED, build,
             files={"u16.rsp": utf16("a.zip -st \u00c9t\u00e9\u2122 -y")}, record={"title": "\u00c9t\u00e9\u2122"}),
        Case("response-file-utf8-with-mark", ["@u8.rsp"], BUILD_FAILED, build,
             files={"u8.rsp": utf8("a.zip -st \u00c9t\u00e9\u2122 -y")}, record={"title": "\u00c9t\u00e9\u2122"}),
        Case("response-file-nested", ["a.zip", "@outer.rsp"], BUILD_FAILED, build,
             files={"outer.rsp": nested, "inner.rsp": b"-nocrc -y"},
             record={"option_k": "1", "no_crc": "1", "stage": "build"}),
        Case("response-file-names-itself", ["@loop.rsp"], REFUSED, [1074],
             files={"loop.rsp": looping}, record={"build_log": "1", "result": "3"}),
        Case("response-file-missing", ["a.zip", "@none.rsp", "-y"], BUILD_FAILED, [1074, BUILD]),
        Case("response-file-utf16-big-endian", ["@be.rsp"], REFUSED, [4435],
             files={"be.rsp": b"\xfe\xff" + "-y".encode("utf-16-be")}),
        Case("response-file-over-8192", ["@big.rsp"], REFUSED, [4420],
             files={"big.rsp": b" " * 8192 + b"x"}),
        Case("about-text-ansi", ["a.zip", "-a", "about.txt", "-y"], BUILD_FAILED, build,
             files={"about.txt": "Caf\u00e9".encode("cp1252")}, record={"about_text": "Caf\u00e9"}),
        Case("about-text-utf8-with-mark", ["a.zip", "-a", "about.txt", "-y"], BUILD_FAILED, build,
             files={"about.txt": utf8("\u20ac 5")}, record={"about_text": "\u20ac 5"}),
        Case("about-text-utf16-with-mark", ["a.zip", "-aabout.txt", "-y"], BUILD_FAILED, build,
             files={"about.txt": utf16("\u041f\u0440\u0438")}, record={"about_text": "\u041f\u0440\u0438"}),
        Case("about-text-unsupported-mark", ["a.zip", "-a", "about.txt", "-y"], REFUSED, [4435],
             files={"about.txt": b"\xff\xfe\x00\x00abcd"}),
        Case("dialog-text-missing-is-refused", ["a.zip", "-setup", "-t", "none.txt", "-c", "setup"],
             REFUSED, [4400]),
        Case("dialog-text-in-setup", ["a.zip", "-setup", "-t", "dlg.txt", "-c", "setup.exe"], BUILD_FAILED,
             build, files={"dlg.txt": utf16("Line one\r\nLine two")},
             record={"dialog_text": "Line one\r\nLine two", "command": "setup.exe", "run_as_admin": "1"}),
        Case("greeting-over-its-limit", ["a.zip", "-m", "greet.txt"], BUILD_FAILED, [1037, BUILD],
             files={"greet.txt": b"g" * 600}, record={"greeting_text": "g" * 512}),
        Case("greeting-default-file", ["a.zip", "-myesno"], BUILD_FAILED, build,
             files={"quollase.diz": utf8("Hello\r\nthere")},
             record={"greeting_text": "Hello\r\nthere", "greeting_buttons": "1"}),
        Case("greeting-named-but-missing", ["a.zip", "-m", "none.txt"], REFUSED, [1014]),
        Case("command-holds-a-switch", ["a.zip", "-c", "setup", "-q"], REFUSED, [4900]),
        # The wizard's command check applies to an installation command.
        Case("setup-command-runs-the-file-itself", ["setup.zip", "-setup", "-c", "SETUP.exe"], REFUSED, [5090]),
        Case("setup-command-is-no-program", ["a.zip", "-setup", "-c", "readme.txt"], REFUSED, [6210]),
        Case("setup-command-inf", ["a.zip", "-setup", "-y", "-c", "install.inf"], BUILD_FAILED, build,
             record={"command": "install.inf"}),
        Case("command-with-o", ["a.zip", "-setup", "-o", "-c", "setup", "-q"], BUILD_FAILED, build,
             record={"command": "setup -q"}),
    ]


def report_cases(runner):
    tracecheck = runner.args.tracecheck
    common = ["Module name = ", "Operating System Version", "Total physical memory = ",
              "qlFileExists:", "output_context_info:", "Quolla Self-Extractor 4.0 compiled: Aug  5 2016"]
    return [
        Case("report-assertion", ["assert"], INTERNAL_ERROR, [6040, 1078], program=tracecheck,
             before=remove_report,
             report=["Quolla internal error in file tracecheck.cpp line 42", "Return address = "] + common),
        Case("report-line-0-returns-twice", ["line0"], 7, [6030, 1078, 6030, 1078], program=tracecheck,
             before=remove_report, report=["Internal error detected"] + common),
        Case("report-win32-failure", ["win32"], INTERNAL_ERROR, [6020, 1078], program=tracecheck,
             before=remove_report,
             report=["***** Unexpected Win32 API Failure: ", "File:tracecheck.cpp", "Line:77"] + common),
        Case("report-uncaught-exception", ["throw"], INTERNAL_ERROR, [6030, 1078], program=tracecheck,
             before=remove_report, report=["Internal error detected"] + common),
        Case("report-access-violation", ["crash"], INTERNAL_ERROR, [6030, 1078], program=tracecheck,
             before=remove_report,
             report=["Exception code = c0000005", "Instruction ptr: "] + common),
        # A report that cannot be written still returns from a line-0 report.
        Case("report-unwritable", ["line0"], 7, [6030, 6030], program=tracecheck,
             before=block_report, report=False),
    ]


GROUPS = {"startup": (startup_cases, 4), "commandline": (commandline_cases, 4), "report": (report_cases, 1)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--wine", required=True)
    parser.add_argument("--wine-state", required=True)
    parser.add_argument("--builder", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--help-file", required=True)
    parser.add_argument("--tracecheck", required=True)
    parser.add_argument("--library", action="append", default=[])
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    runner = Runner(args)
    make, workers = GROUPS[args.group]
    cases = make(runner)
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        failures = [f for f in pool.map(runner.run, cases) if f]
    if args.group == "report":
        remove_report(runner)
    for failure in failures:
        print("FAIL " + failure)
    print("%d passed, %d failed" % (len(cases) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
