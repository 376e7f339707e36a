#!/usr/bin/env python3
"""check_texts.py SOURCE_ROOT: the engine's string tables against the engine.

Every message id of stub/engine/unzip.h (and the host's disk prompts) has a
text in both languages, with the same placeholders in the same order, and no
id of the stub's string tables is given twice.
"""
import re
import sys

HOST_IDS = {1001, 1002}


def entries(path, defines):
    """(id, text) of every STRINGTABLE line, with #include'd tables."""
    out = []
    for line in open(path, encoding="utf-8"):
        inc = re.match(r'\s*#include\s+"(stub/sfxengine_\w+\.rc)"', line)
        if inc:
            out += entries(ROOT + "/" + inc.group(1), defines)
            continue
        m = re.match(r'\s*(\w+)\s+"(.*)"\s*$', line)
        if m and (m.group(1).isdigit() or m.group(1) in defines):
            key = m.group(1)
            out.append((int(key) if key.isdigit() else defines[key], m.group(2)))
    return out


def placeholders(text):
    return re.findall(r"%[-0-9.l]*[sd]", text.replace("%%", ""))


def main():
    global ROOT
    ROOT = sys.argv[1]
    header = open(ROOT + "/stub/engine/unzip.h").read()
    enum = re.search(r"enum SfxEngineText \{(.*?)\};", header, re.S).group(1)
    ids = {int(v) for v in re.findall(r"=\s*(\d+)", enum)} | HOST_IDS
    defines = {m.group(1): int(m.group(2))
               for m in re.finditer(r"#define\s+(IDS_\w+)\s+(\d+)", open(ROOT + "/stub/sfxres.h").read())}
    problems = []
    tables = {}
    for lang in ("en", "de"):
        all_entries = entries("%s/stub/sfxstub_%s.rc" % (ROOT, lang), defines)
        seen = {}
        for key, text in all_entries:
            if key in seen:
                problems.append("%s: id %d given twice" % (lang, key))
            seen[key] = text
        tables[lang] = seen
        for key in sorted(ids - set(seen)):
            problems.append("%s: no text for %d" % (lang, key))
    for key in sorted(ids):
        en, de = tables["en"].get(key), tables["de"].get(key)
        if en is not None and de is not None and placeholders(en) != placeholders(de):
            problems.append("%d: placeholders %s in English, %s in German" %
                            (key, placeholders(en), placeholders(de)))
    for p in problems:
        print(p)
    print("%d passed, %d failed" % (len(ids) - len(problems) if len(problems) < len(ids) else 0,
                                    len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
