#!/bin/bash
# Sets everything up, builds both trees and runs every test: the native tests
# of the pure code (ASan/UBSan) and the Windows tests under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QL_BUILD_DIR:-$top/build}

"$top/scripts/setup.sh"
"$top/scripts/build.sh" native win

# One ctest run covers both trees.
printf 'subdirs("native" "win")\n' >"$build/CTestTestfile.cmake"
cd "$build"
ctest -j"$(nproc)" --output-on-failure --timeout 600
