#!/bin/bash
# Sets everything up, builds the distribution folder dist/ (the builder, its
# helper library and its help file) from the Windows tree, then makes a demo
# self-extractor from a small sample Zip with the distribution's builder and
# runs it under Wine unattended, and shows what it extracted.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QL_BUILD_DIR:-$top/build}
dist=${QL_DIST_DIR:-$top/dist}

"$top/scripts/setup.sh"
"$top/scripts/build.sh" win
rm -rf "$dist"
cmake --install "$build/win" --prefix "$dist"
echo "Distribution in $dist:"
find "$dist" -type f | sort

# --- the demo
demo=$build/demo
state=$build/win/wine
rm -rf "$demo"
mkdir -p "$demo"
python3 - "$demo/demo.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("readme.txt", "This file came out of a Quolla self-extractor.\r\n")
    z.writestr("docs/notes.txt", "Notes\r\n" * 100)
PY
winpath() { echo "Z:$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | sed 's|/|\\|g'; }
"$top/tools/wine/wine-session.sh" start "$state"
trap '"$top/tools/wine/wine-session.sh" stop "$state"' EXIT
# -y: no questions; -silent: the demo extracts without dialogs to its folder.
# The builder ends with 1 when it made the file.
rc=0
"$build/win/ql-wine" "$dist/qlxtra32.exe" "$(winpath "$demo/demo.zip")" -y -silent \
    -d "$(winpath "$demo/extracted")" || rc=$?
if [ $rc -ne 1 ]; then
  echo "The builder did not make the demo (exit code $rc)." >&2
  exit 1
fi
echo "Demo self-extractor: $demo/demo.exe ($(stat -c %s "$demo/demo.exe") bytes)"
"$build/win/ql-wine" "$demo/demo.exe"
echo "The demo extracted:"
(cd "$demo/extracted" && find . -type f | sort | while read -r f; do
  printf '  %-20s %6d bytes\n' "${f#./}" "$(stat -c %s "$f")"; done)
(cd "$demo" && mkdir -p unzipped && unzip -q -o -d unzipped demo.zip)
if diff -r "$demo/unzipped" "$demo/extracted" >/dev/null; then
  echo "The extracted tree equals unzip's."
else
  echo "The extracted tree differs from unzip's." >&2
  exit 1
fi
