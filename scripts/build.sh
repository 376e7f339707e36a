#!/bin/bash
# build.sh [native] [win]: configures and builds the named trees under build/
# (both when none is named). Expects the packages of setup.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QL_BUILD_DIR:-$top/build}
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(native win)

for tree in "${trees[@]}"; do
  case "$tree" in
  native)
    cmake -S "$top" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug
    ;;
  win)
    cmake -S "$top" -B "$build/win" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
          -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake"
    ;;
  *)
    echo "build.sh: unknown tree '$tree' (native or win)" >&2
    exit 2
    ;;
  esac
  cmake --build "$build/$tree" -j"$(nproc)"
done
