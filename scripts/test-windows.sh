#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with MinGW-w64 and runs the tests under Wine.
#
# Installs the toolchain, Wine, zlib for MinGW, the JSON library and GoogleTest's sources with
# apt-get when they are missing (as root, or through sudo). What is built is a matter of CMake
# options alone: BREVOMAT_WINDOWS_OPTIONS (default: everything but the Qt window and the benchmarks, i.e. the core,
# the virtual cart, brevomat-cli.exe and their tests; -DBREVOMAT_PORT_ONLY=ON builds only the port
# library and its tests); every test that the build
# registers with ctest runs, through Wine. BUILD_DIR is the build directory (default
# build-windows). Wine gets a fresh private prefix inside the build directory each run, and no
# display.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-windows}
options=${BREVOMAT_WINDOWS_OPTIONS:--DBREVOMAT_GUI=OFF -DBREVOMAT_BENCH=OFF}
gtest_source=/usr/src/googletest
started=$(date +%s)

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v x86_64-w64-mingw32-gcc-posix >/dev/null || missing+=(gcc-mingw-w64-x86-64-posix)
command -v wine >/dev/null || missing+=(wine)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -f "$gtest_source/CMakeLists.txt" ] || missing+=(googletest)
[ -f /usr/x86_64-w64-mingw32/include/zlib.h ] || missing+=(libz-mingw-w64-dev)
# Header-only; the build links it into a folder of its own for the cross-compiler.
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "=== installing ${missing[*]} ==="
  sudo=""
  if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "=== cross-build into $build ($options) ==="
# shellcheck disable=SC2086 # the options are a list of words
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBREVOMAT_WERROR=ON -DBREVOMAT_GTEST_SOURCE="$gtest_source" $options
cmake --build "$build" -j2

echo "=== tests under Wine ==="
WINEPREFIX="$(cd "$build" && pwd)/wineprefix"
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all
# No offer to install Wine's Mono and Gecko, and no display: nothing here opens a window.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineserver --kill 2>/dev/null || true
rm -rf "$WINEPREFIX"
trap 'wineserver --kill 2>/dev/null || true' EXIT
# Set up the prefix and wait until Wine has finished with it: until then its service manager
# keeps the service database locked, and starting a driver fails.
wineboot --init
wineserver --wait
ctest --test-dir "$build" --output-on-failure -j2
echo "Windows tests done in $(($(date +%s) - started)) s"
