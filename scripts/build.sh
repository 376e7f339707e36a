#!/bin/bash
# build.sh [native] [win] [fuzz] [bench]: configures and builds the named trees
# under build/ (native and win when none is named). Expects the packages of
# setup.sh.
#   native  pure code and its tests, ASan/UBSan
#   win     the Windows programs and their tests (run under Wine)
#   fuzz    libFuzzer targets (clang)
#   bench   benchmarks, optimised
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
  fuzz)
    cmake -S "$top" -B "$build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
          -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQL_FUZZ=ON
    ;;
  bench)
    cmake -S "$top" -B "$build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DQL_BENCH=ON -DQL_SANITIZE=OFF -DBUILD_TESTING=OFF
    ;;
  win)
    cmake -S "$top" -B "$build/win" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
          -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake"
    ;;
  *)
    echo "build.sh: unknown tree '$tree' (native, win, fuzz or bench)" >&2
    exit 2
    ;;
  esac
  cmake --build "$build/$tree" -j"$(nproc)"
done
