#!/bin/bash
# Sets everything up, builds the trees and runs every test: the native tests of
# the pure code (ASan/UBSan), the Windows tests under Wine and short runs of
# the fuzz targets.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QL_BUILD_DIR:-$top/build}

"$top/scripts/setup.sh"
"$top/scripts/build.sh" native win fuzz

# One ctest run covers every tree: native tests, Wine tests, short fuzz runs.
printf 'subdirs("native" "win" "fuzz")\n' >"$build/CTestTestfile.cmake"
cd "$build"
ctest -j"$(nproc)" --output-on-failure --timeout 600
