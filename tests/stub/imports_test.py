#!/usr/bin/env python3
"""imports_test.py OBJDUMP STUB...: every stub binds USER32, SHELL32, COMCTL32 and
SHLWAPI at their first use, after its start-up guard, so its import table
names only KERNEL32, GDI32 and msvcrt, and in the standard mode ADVAPI32 (the
archiver's registry keys)."""
import os
import re
import subprocess
import sys

LOAD_TIME = {"kernel32.dll", "gdi32.dll", "msvcrt.dll"}


def main(objdump, stubs):
    failed = 0
    for path in stubs:
        name = os.path.basename(path)
        dump = subprocess.run([objdump, "-p", path], stdout=subprocess.PIPE, check=True,
                              timeout=60).stdout.decode("utf-8", "replace")
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)}
        allowed = LOAD_TIME | ({"advapi32.dll"} if name.startswith("SFXHDR_std-") else set())
        faults = []
        if dlls - allowed:
            faults.append("imports %s at load time" % ", ".join(sorted(dlls - allowed)))
        if "kernel32.dll" not in dlls or "gdi32.dll" not in dlls:
            faults.append("imports neither KERNEL32 nor GDI32 at load time: %s" % sorted(dlls))
        print("%-28s %-40s %s" % (name, " ".join(sorted(dlls)), "FAILED" if faults else "ok"))
        for fault in faults:
            print("    " + fault)
        failed += bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
