#!/usr/bin/env python3
"""Writes the fixture of the settings-report test: a .reg file that fills the
maker's registry key (nested keys, every value type, the 256-entry and the
10-level limits) and the report that the builder's "-dump" must write for it.

usage: make-dump-fixture.py OUTDIR   (writes dump.reg and dump-expected.txt)

The report is modelled here from the report's rules, independently of the
builder: each key at level L is listed with an indent of 2 x (L + 1) blanks as
"[name]", followed by its values ("name=text" for REG_SZ, "name=0x%08x" for
REG_DWORD, "name=????????" for every other type; "(Default)" for the unnamed
value) and an empty line when it has any, then by its own subkeys; at 256
subkeys or values the listing stops with an error line, and below level 10 an
error line stands in place of the deeper keys. Keys and values are listed in
the registry's order, which is by name without case (the names here sort the
same way with and without case, and are written in that order).
"""
import os
import sys

MAKER = r"HKEY_CURRENT_USER\SOFTWARE\Ostrel Zivevevoz"
LIMIT = 256
MAX_LEVEL = 10


class Key:
    def __init__(self):
        self.values = []    # (name, kind, reg text, report text)
        self.children = {}  # name -> Key

    def child(self, name):
        return self.children.setdefault(name, Key())


def sz(name, text):
    line = '"%s"="%s"' % (name, text) if name else '@="%s"' % text
    return (name, "sz", line, text)


def other(name, reg):
    return (name, "other", '"%s"=%s' % (name, reg), "????????")


def dword(name, value):
    return (name, "dword", '"%s"=dword:%08x' % (name, value), "0x%08x" % value)


def build():
    maker = Key()
    maker.values.append(sz("Maker", "the maker key's own values are not listed"))
    alpha = maker.child("Alpha")
    alpha.values += [
        sz("", "default text"),
        other("Binary", "hex:01,02,03"),
        dword("Dword", 0x12345678),
        sz("Empty", ""),
        other("Expand", "hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00"),
        other("Multi", "hex(7):61,00,00,00,62,00,00,00,00,00"),
        other("Qword", "hex(b):08,07,06,05,04,03,02,01"),
        dword("Small", 1),
        # ANSI: the e acute is a byte of its own, the Cyrillic letter is lost.
        sz("Text", "Caf\u00e9 \u0416"),
    ]
    alpha.child("Child").values.append(sz("Inner", "x"))
    beta = maker.child("Beta")
    deep = beta
    for level in range(1, 13):
        deep = deep.child("L%02d" % level)
        deep.values.append(sz("Depth", str(level)))
    keys = maker.child("Keys")
    for i in range(LIMIT + 1):
        keys.child("K%03d" % i)
    values = maker.child("Values")
    for i in range(LIMIT + 1):
        values.values.append(sz("V%03d" % i, str(i)))
    maker.child("Zulu")  # a key without values or subkeys
    return maker


def write_reg(key, path, lines):
    lines.append("")
    lines.append("[%s]" % path)
    lines += [v[2] for v in key.values]
    for name in sorted(key.children, key=str.lower):
        write_reg(key.children[name], path + "\\" + name, lines)


def report(key, level, out):
    if level > MAX_LEVEL:
        out.append("error=Maximum Number of levels exceeded\n")
        return
    indent = " " * (2 * (level + 1))
    names = sorted(key.children, key=str.lower)
    for index in range(len(names) + 1):
        if index == LIMIT:
            out.append("error=Maximum Number of keys exceeded\n")
            break
        if index == len(names):
            break
        child = key.children[names[index]]
        out.append("%s[%s]\n" % (indent, names[index]))
        values = sorted(child.values, key=lambda v: v[0].lower())
        written = 0
        for vindex in range(len(values) + 1):
            if vindex == LIMIT:
                out.append("error=Maximum Number of values exceeded\n")
                break
            if vindex == len(values):
                break
            name, _, _, text = values[vindex]
            out.append("%s%s=%s\n" % (indent, name or "(Default)", text))
            written += 1
        if written:
            out.append("\n")
        report(child, level + 1, out)


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    maker = build()
    lines = ["Windows Registry Editor Version 5.00"]
    write_reg(maker, MAKER, lines)
    with open(os.path.join(outdir, "dump.reg"), "wb") as f:
        f.write(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
    out = []
    report(maker, 0, out)
    text = "".join(out).replace("\n", "\r\n")
    with open(os.path.join(outdir, "dump-expected.txt"), "wb") as f:
        f.write(text.encode("cp1252", errors="replace"))


if __name__ == "__main__":
    main()
