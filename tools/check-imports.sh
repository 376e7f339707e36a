#!/bin/sh
# check-imports.sh OBJDUMP IMAGE: fail when IMAGE imports a DLL that is not
# Windows' own (or the system's own helper library).
objdump=$1
image=$2
allowed='^(kernel32|user32|gdi32|advapi32|shell32|comctl32|comdlg32|shlwapi|ole32|oleaut32|version|msvcrt|mapi32|winmm|uxtheme|qlse32)\.dll$'
bad=$("$objdump" -p "$image" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | grep -Ev "$allowed")
if [ -n "$bad" ]; then
  echo "$image imports DLLs that are not Windows' own:" >&2
  echo "$bad" >&2
  rm -f "$image"
  exit 1
fi
exit 0
