#!/usr/bin/env python3
"""ninex_imports.py OBJDUMP IMAGE BINDER: the narrow-character stub calls the
"A" forms of the Windows API, so that it also loads on the 9x family: neither
its import table (objdump -p) nor the functions it binds at first use (the
names of the binder's tables, BINDER being stub/sfxbind.cpp, that the image
carries) name a wide function of Windows' own DLLs but the few that the 9x
family has."""
import re
import subprocess
import sys

# The wide functions that Windows 95, 98 and Me carry themselves.
NINE_X_WIDE = {
    "EnumResourceLanguagesW", "EnumResourceNamesW", "EnumResourceTypesW", "ExtTextOutW", "FindResourceExW",
    "FindResourceW", "GetCharWidthW", "GetCommandLineW", "GetTextExtentExPointW", "GetTextExtentPoint32W",
    "GetTextExtentPointW", "lstrlenW", "MessageBoxExW", "MessageBoxW", "TextOutW",
}
WINDOWS_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll",
                "shlwapi.dll", "comdlg32.dll", "ole32.dll"}
# The forms that show the dump was read: the stub opens files and shows boxes
# (the boxes' functions come through the binder).
EXPECTED_NARROW = {"CreateFileA", "MessageBoxA", "LoadStringA", "MoveFileExA"}


def imports(objdump, image):
    dump = subprocess.run([objdump, "-p", image], stdout=subprocess.PIPE, check=True,
                          timeout=60).stdout.decode("utf-8", "replace")
    out, dll = [], None
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        m = re.match(r"\s+[0-9a-f]+\s+[0-9]+\s+(\S+)$", line)
        if m and dll:
            out.append((dll, m.group(1)))
    return out


def bound(image, binder):
    """(dll, name) of each function of the binder's tables whose name the image
    carries: the name is what the binder looks up."""
    with open(binder, encoding="utf-8") as f:
        rows = re.findall(r"\b(?:F|QL_BIND_WIDE)\((?:F, )?(\w+), (\w+), \d+\)", f.read())
    with open(image, "rb") as f:
        data = f.read()
    return [(dll + ".dll", name) for dll, name in rows if b"\0" + name.encode() + b"\0" in data]


def main(objdump, image, binder):
    found = imports(objdump, image) + bound(image, binder)
    names = {name for _, name in found}
    faults = ["%s from %s" % (name, dll) for dll, name in found
              if dll in WINDOWS_DLLS and name.endswith("W") and name not in NINE_X_WIDE]
    missing = EXPECTED_NARROW - names
    for fault in faults:
        print("imports a wide function the 9x family lacks: %s" % fault)
    if missing:
        print("the import table lacks %s: not the narrow build, or the dump was not read" % sorted(missing))
    print("%d imports and bound functions, %d wide ones the 9x family has" % (len(found), len(names & NINE_X_WIDE)))
    return 1 if faults or missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3]))
