#!/usr/bin/env bash
# Builds everything (warnings are errors) and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
# shellcheck source=scripts/ccache.sh
. scripts/ccache.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBREVOMAT_WERROR=ON "${compiler_launcher[@]}"
cmake --build "$build" -j2
# shellcheck source=scripts/suite-summary.sh
. scripts/suite-summary.sh
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 | tee "$build/ctest.log"
suite_passed "native suite, built in $build" "$build/ctest.log"
