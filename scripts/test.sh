#!/usr/bin/env bash
# Builds everything (warnings are errors) and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
# shellcheck source=scripts/ccache.sh
. scripts/ccache.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBREVOMAT_WERROR=ON "${compiler_launcher[@]}"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
