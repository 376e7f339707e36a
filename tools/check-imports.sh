#!/bin/sh
# check-imports.sh OBJDUMP IMAGE [DLL...]: fail when IMAGE imports at load time
# a DLL that is not Windows' own (or the system's own helper library), or,
# when DLLs are named, one that is not among them.
objdump=$1
image=$2
shift 2
if [ $# -gt 0 ]; then
  allowed="^($(echo "$*" | tr 'A-Z ' 'a-z|'))\.dll\$"
else
  allowed='^(kernel32|user32|gdi32|advapi32|shell32|comctl32|comdlg32|shlwapi|ole32|oleaut32|version|msvcrt|mapi32|winmm|uxtheme|qlse32)\.dll$'
fi
bad=$("$objdump" -p "$image" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | grep -Ev "$allowed")
if [ -n "$bad" ]; then
  if [ $# -gt 0 ]; then
    echo "$image imports DLLs at load time beyond $*:" >&2
  else
    echo "$image imports DLLs that are not Windows' own:" >&2
  fi
  echo "$bad" >&2
  rm -f "$image"
  exit 1
fi
exit 0
