#!/usr/bin/env python3
"""Build-time check of the help ids: every help id the builder's code can ask
for names a topic of the help file.

usage: check-help-ids.py HELP_DIR SOURCE_DIR... [--stamp FILE]

HELP_DIR holds helpids.h (#define IDH_<name> <number>), the project
quollase.hhp (its [FILES], its [ALIAS] lines IDH_<name>=<topic file> and its
[MAP], which includes helpids.h) and the topics. The sources are read for
help ids: code names them only by their IDH_ names, and every such name
must be defined, aliased to a topic that the project lists and that exists.
A help-taking call given a number instead (other than 0, no help) is a
fault too. Prints every fault and ends with 1 when there is one.
"""
import os
import re
import sys

# Calls that take a help id, and the argument (0-based) that holds it.
HELP_ARGUMENTS = {
    "dialog_common_handler": 4,
    "qlDlgCommonHandler": 4,
    "confirm_dialog": 2,
    "message_box_with_help": 0,
    "error_box_with_help": 0,
    "show_message_box_now": 0,
    "show_help": 2,
    "sink_message_box": 5,
    "qlMiscMessageBox": 0,
    "qlMiscShowMessageBox": 0,
}
NO_HELP_NUMBERS = {"0", "1", "0xFFFF", "0xffff"}
SOURCE_SUFFIXES = (".cpp", ".h", ".rc")


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    # String literals may hold anything, parentheses included.
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def help_ids(header):
    ids = {}
    for name, value in re.findall(r"^\s*#define\s+(IDH_\w+)\s+(\S+)", read(header), re.M):
        ids[name] = int(value, 0)
    return ids


def project_sections(project):
    sections, current = {}, None
    for line in read(project).splitlines():
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1].upper()
            sections.setdefault(current, [])
        elif current:
            sections[current].append(line)
    return sections


def call_arguments(text, start):
    """The top-level arguments of the call whose '(' is at start."""
    depth, args, current = 0, [], []
    for i in range(start, len(text)):
        c = text[i]
        if c in "([{":
            depth += 1
            if depth == 1:
                continue
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append("".join(current).strip())
                return args
        elif c == "," and depth == 1:
            args.append("".join(current).strip())
            current = []
            continue
        current.append(c)
    return None


def main(argv):
    stamp = None
    if "--stamp" in argv:
        at = argv.index("--stamp")
        stamp = argv[at + 1]
        argv = argv[:at] + argv[at + 2:]
    if len(argv) < 2:
        sys.exit(__doc__)
    help_dir, source_dirs = argv[0], argv[1:]
    faults = []

    ids = help_ids(os.path.join(help_dir, "helpids.h"))
    sections = project_sections(os.path.join(help_dir, "quollase.hhp"))
    files = {f.replace("\\", "/").lower() for f in sections.get("FILES", [])}
    aliases = {}
    for line in sections.get("ALIAS", []):
        name, _, topic = line.partition("=")
        aliases[name.strip()] = topic.strip().replace("\\", "/")
    if not any("helpids.h" in line for line in sections.get("MAP", [])):
        faults.append("quollase.hhp: its [MAP] does not include helpids.h")

    for name in sorted(ids):
        topic = aliases.get(name)
        if topic is None:
            faults.append("%s (%d) has no topic in quollase.hhp [ALIAS]" % (name, ids[name]))
        elif topic.lower() not in files:
            faults.append("%s: topic %s is not in quollase.hhp [FILES]" % (name, topic))
        elif not os.path.isfile(os.path.join(help_dir, topic)):
            faults.append("%s: topic %s does not exist" % (name, topic))
    for name in sorted(set(aliases) - set(ids)):
        faults.append("quollase.hhp aliases %s, which helpids.h does not define" % name)

    used = set()
    for top in source_dirs:
        for folder, _, names in os.walk(top):
            for file_name in sorted(names):
                if not file_name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, file_name)
                text = strip_comments(read(path))
                for name in re.findall(r"\bIDH_\w+", text):
                    used.add(name)
                    if name not in ids:
                        faults.append("%s: %s is not a help id of helpids.h" % (path, name))
                for match in re.finditer(r"\b(\w+)\s*\(", text):
                    index = HELP_ARGUMENTS.get(match.group(1))
                    if index is None:
                        continue
                    args = call_arguments(text, match.end() - 1)
                    if not args or index >= len(args):
                        continue
                    value = args[index]
                    if re.fullmatch(r"(0[xX][0-9a-fA-F]+|\d+)", value) and value not in NO_HELP_NUMBERS:
                        line = text.count("\n", 0, match.start()) + 1
                        faults.append("%s:%d: %s asks for help id %s by number; name it in helpids.h"
                                      % (path, line, match.group(1), value))

    for fault in faults:
        print("check-help-ids: " + fault, file=sys.stderr)
    if faults:
        return 1
    if stamp:
        with open(stamp, "w") as f:
            f.write("%d help ids, %d named in the code\n" % (len(ids), len(used)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
