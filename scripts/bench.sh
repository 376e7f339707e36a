#!/bin/bash
# Builds the benchmark tree and runs every benchmark; each prints its figures
# and its ratio against the reference measured in the same run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QL_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh" bench
for b in "$build"/bench/tests/bench/*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
