#!/bin/bash
# Sets everything up and builds the distribution folder dist/ from the Windows
# tree.
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
