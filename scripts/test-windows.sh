#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with MinGW-w64 and runs the tests under Wine, for
# 64-bit and for 32-bit Windows; builds the zip and the installer of each, checks what every
# packaged program imports against the oldest Windows its package claims (7 for 64 bits, XP SP3
# for 32 bits), and tries the installers as a user would.
#
# Installs the toolchains, Wine (with its 32-bit part from Debian's i386 architecture), Wine's
# fonts, NSIS, the JSON library, Xvfb, zlib for MinGW and GoogleTest's sources with apt-get when they are missing (as
# root, or through sudo). What is built is a matter of CMake options alone:
# BREVOMAT_WINDOWS_OPTIONS (default: everything but the Qt window and the benchmarks: the core, the
# virtual cart, the Win32 window programs, brevomat-cli.exe and their tests; -DBREVOMAT_PORT_ONLY=ON
# builds only the port library and its tests). Every test that the build registers with ctest runs,
# through Wine, in both builds: the 32-bit one (BUILD_DIR_32, default BUILD_DIR + "-i686") is the
# same suite built as 32-bit code, run in a 32-bit Wine prefix as on 32-bit Windows. Where this
# machine's kernel runs no 32-bit program, that suite runs in a virtual machine whose kernel does
# (scripts/wine32-vm.sh; BREVOMAT_WINDOWS_32_VM=OFF leaves it out).
# BREVOMAT_WINDOWS_32=OFF leaves it out. BUILD_DIR is the 64-bit build directory (default
# build-windows). Wine gets a fresh private prefix inside each build directory each run; the tests
# run without a display (Wine's null display driver), the installed program and the picture of
# the window (BUILD_DIR/window.png) on an Xvfb display.
#
# Nothing here waits without a limit: every Wine start, every test and every program shown has
# its time, a program is asked to end the way Windows asks (WM_CLOSE to its window), and one that
# has not ended within its time is a failure, with what it and Wine said.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-windows}
build32=${BUILD_DIR_32:-$build-i686}
with32=${BREVOMAT_WINDOWS_32:-ON}
options=${BREVOMAT_WINDOWS_OPTIONS:--DBREVOMAT_GUI=OFF -DBREVOMAT_BENCH=OFF}
gtest_source=/usr/src/googletest
title="Tarvex Brevomat 1.2nt"
started=$(date +%s)

sudo=""
if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v x86_64-w64-mingw32-gcc-posix >/dev/null || missing+=(gcc-mingw-w64-x86-64-posix)
if [ "$with32" = ON ]; then
  command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
  command -v i686-w64-mingw32-gcc-posix >/dev/null || missing+=(gcc-mingw-w64-i686-posix)
fi
command -v wine >/dev/null || missing+=(wine)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -f /usr/share/wine/fonts/sserife.fon ] || missing+=(fonts-wine)
command -v makensis >/dev/null || missing+=(nsis)
command -v unzip >/dev/null || missing+=(unzip)
command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
command -v xwininfo >/dev/null || missing+=(x11-utils)
[ -f "$gtest_source/CMakeLists.txt" ] || missing+=(googletest)
[ -f /usr/x86_64-w64-mingw32/include/zlib.h ] || missing+=(libz-mingw-w64-dev)
# Header-only; the build links it into a folder of its own for the cross-compiler.
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "=== installing ${missing[*]} ==="
  $sudo apt-get update -qq || true
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The 32-bit suite and window: what they need, and where they run.
# shellcheck source=scripts/windows-32.sh
. scripts/windows-32.sh
# Wine runs 32-bit programs (the 32-bit build's tests, and NSIS's own helpers) only with wine32,
# which comes from the i386 architecture. A mirror whose i386 index lags behind its amd64 one can
# make it uninstallable for a while: then the 32-bit build is still made and its imports checked,
# but the run fails, since its 32-bit suite did not run (BREVOMAT_WINDOWS_32=OFF leaves the 32-bit
# build out on purpose; BREVOMAT_WINDOWS_32_VM=OFF the virtual machine, see below).
wine32=no
why32=""
note32=""
restarts=""
vm32=""
packaged32=no
if [ "$with32" = ON ]; then
  if [ ! -x /usr/lib/wine/wine ]; then
    echo "=== installing wine32 (i386) ==="
    added=no
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386
      added=yes
    fi
    $sudo apt-get update -qq || true
    if ! $sudo apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null; then
      echo "wine32 could not be installed"
      # Leave the machine as it was: an i386 index that cannot be fetched would fail every later
      # apt-get update.
      if [ "$added" = yes ]; then $sudo dpkg --remove-architecture i386 && $sudo apt-get update -qq || true; fi
    fi
  fi
  # Installed is not enough: a kernel without IA-32 emulation (ia32_emulation=off, some virtual
  # machines and sandboxes) runs no 32-bit x86 program, Wine's 32-bit loader included.
  if [ ! -x /usr/lib/wine/wine ]; then
    note32="wine32 could not be installed on this machine"
  elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    note32="this machine runs no 32-bit x86 program (its kernel has no IA-32 emulation), so wine32 cannot start"
    vm32=${BREVOMAT_WINDOWS_32_VM:-ON}
  else
    wine32=yes
    # What its X11 display driver uses, so that it draws the 32-bit window on the X display; the
    # window is pictured below, and a run where it is not drawn fails there.
    missing32=()
    for package in $wine32_x11_packages; do
      dpkg -s "$package" >/dev/null 2>&1 || missing32+=("$package")
    done
    if [ ${#missing32[@]} -gt 0 ]; then
      echo "=== installing ${missing32[*]} ==="
      $sudo apt-get install -y -qq --no-install-recommends "${missing32[@]}" >/dev/null ||
        echo "(${missing32[*]} could not be installed)"
    fi
  fi
  why32=$note32
  note32=""
fi
# Debian's `wine` starts Wine's 32-bit loader whenever wine32 is installed, also for 64-bit
# programs: where that loader cannot run, every Wine command goes through the 64-bit one instead,
# by a `wine` of our own put first on the PATH.
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  mkdir -p "$build/wine-bin"
  printf '%s\n' '#!/bin/sh' '# Wine with its 64-bit loader (this machine runs no 32-bit x86 program).' \
    'WINELOADER=/usr/lib/wine/wine64; export WINELOADER' 'exec /usr/lib/wine/wine64 "$@"' >"$build/wine-bin/wine"
  chmod +x "$build/wine-bin/wine"
  PATH="$(cd "$build/wine-bin" && pwd):$PATH"
  export PATH
fi

# shellcheck source=scripts/suite-summary.sh
. scripts/suite-summary.sh
# The last lines: which suites ran where (or were left out, and why), the Wine restarts, the
# time; the run passed.
mkdir -p "$build"
what_ran="$(cd "$build" && pwd)/what-ran.txt"
: >"$what_ran"
BREVOMAT_SUMMARY=${BREVOMAT_SUMMARY:+$BREVOMAT_SUMMARY:}$what_ran
finish() {
  echo "--- what ran where"
  cat "$what_ran"
  echo "Windows tests done in $(($(date +%s) - started)) s; Wine restarts: ${restarts:-none counted} (at most ${BREVOMAT_WINE_RESTARTS_MAX:-3} a run, one a program)"
  exit 0
}

# Time limits, in seconds: a Wine prefix's first start, one test, a whole ctest run, the installer,
# a program's window to appear, and a program asked to close to end.
limit_prefix=300
limit_test=600
limit_suite=2400
limit_install=300
limit_window=60
limit_close=30

# One private Wine prefix per build: 64-bit Windows for the 64-bit build, 32-bit Windows (as the
# PCs with a printer port run) for the 32-bit one. `prefix 64|32` selects one for what follows.
export WINEDEBUG=-all
# No offer to install Wine's Mono and Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$build"
prefix64="$(cd "$build" && pwd)/wineprefix"
prefix32=""
if [ "$wine32" = yes ]; then
  mkdir -p "$build32"
  prefix32="$(cd "$build32" && pwd)/wineprefix"
fi
prefix() {
  if [ "$1" = 64 ]; then
    export WINEPREFIX=$prefix64 WINEARCH=win64
  else
    export WINEPREFIX=$prefix32 WINEARCH=win32
  fi
}
stop_wine() {
  local p
  for p in "$prefix64" "$prefix32"; do
    [ -n "$p" ] && [ -d "$p" ] && WINEPREFIX=$p timeout 30 wineserver --kill 2>/dev/null || true
  done
}
trap stop_wine EXIT
# Wine's server for the selected prefix, waited for up to its limit: until it has finished with
# the prefix, its service manager keeps the service database locked.
wine_settle() {
  timeout "$limit_prefix" wineserver --wait || {
    echo "Wine did not settle within $limit_prefix s (prefix $WINEPREFIX)"
    exit 1
  }
}
# Tests make windows without a display; the X display is for the installed program (below).
graphics() {
  if [ "$1" = null ]; then
    timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  else
    timeout 60 wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1 || true
  fi
  # Windows draw their own Windows-style frame and title bar, as on Windows.
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
  wine_settle
}
# The prefix is made before the build: its first start takes a while, and test discovery must not
# meet a cold Wine.
make_prefix() {
  prefix "$1"
  echo "=== Wine prefix ($WINEARCH) ==="
  timeout 30 wineserver --kill 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  timeout "$limit_prefix" wine wineboot --init || {
    echo "Wine's first start in $WINEPREFIX did not end within $limit_prefix s"
    exit 1
  }
  wine_settle
  # The face the window was drawn in, "MS Sans Serif", and the title-bar symbols: Wine's own
  # fonts, which this Wine does not look for outside the prefix.
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  graphics null
}
make_prefix 64
[ "$wine32" = yes ] && make_prefix 32

# Both builds compile through ccache when it is there (its cache outside the repository, optional).
# shellcheck source=scripts/ccache.sh
. scripts/ccache.sh
configure() {
  local dir=$1 toolchain=$2
  shift 2
  # shellcheck disable=SC2086 # the options are a list of words
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBREVOMAT_WERROR=ON -DBREVOMAT_GTEST_SOURCE="$gtest_source" -DBREVOMAT_WINE="$(pwd)/scripts/wine-run.sh" \
    "${compiler_launcher[@]}" "$@"
}
echo "=== 64-bit cross-build into $build ($options) ==="
# shellcheck disable=SC2086
configure "$build" cmake/mingw-w64.cmake $options
cmake --build "$build" -j2
if [ "$with32" = ON ]; then
  echo "=== 32-bit cross-build into $build32 ($options) ==="
  # The whole suite, as in the 64-bit build (an older build directory may remember fewer areas).
  # shellcheck disable=SC2086
  configure "$build32" cmake/mingw-w64-i686.cmake -UBREVOMAT_TEST_AREAS $options
  cmake --build "$build32" -j2
fi
built=$(date +%s)

# Runs a build's whole suite in its prefix, each test and the whole run within their limits. One
# Wine server for all the tests, already running: test discovery starts every test program once
# under a time limit, and a Wine that has to start its server and services first can miss it.
run_suite() {
  local bits=$1 dir=$2 status=0
  prefix "$bits"
  echo "=== tests under Wine ($bits-bit) ==="
  timeout 30 wineserver --persistent
  timeout 120 wine cmd /c exit || true
  export BREVOMAT_WINE_RESTARTS="$dir/wine-restarts.log"
  rm -f "$BREVOMAT_WINE_RESTARTS"
  timeout -k 30 "$limit_suite" ctest --test-dir "$dir" --output-on-failure --no-tests=error -j2 --timeout "$limit_test" \
    | tee "$dir/ctest.log" || status=$?
  timeout 30 wineserver --kill 2>/dev/null || true
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "the $bits-bit suite did not end within $limit_suite s"
  fi
  restarts_line=$(sh scripts/wine-restarts.sh "$BREVOMAT_WINE_RESTARTS" "$bits-bit suite") || status=1
  echo "$restarts_line"
  restarts="$restarts${restarts:+, }$(echo "$restarts_line" | sed -n '1s/.*: \([0-9]*\) Wine restarts.*/\1/p') in the $bits-bit suite"
  [ "$status" = 0 ] || return "$status"
  suite_passed "$bits-bit Windows suite under $bits-bit Wine on this machine" "$dir/ctest.log"
}
run_suite 64 "$build"
tested64=$(date +%s)
test_32bit_suite
[ -z "$note32" ] || suite_note "$note32"
tested32=$(date +%s)
echo "(times: build $((built - started)) s, 64-bit tests $((tested64 - built)) s, 32-bit tests $((tested32 - tested64)) s)"

if [ ! -f "$build/win/brevomat-virtual.exe" ] || [ ! -f "$build/CPackConfig.cmake" ]; then
  echo "(no window programs in this build: no packages, installer or picture)"
  finish
fi
echo "=== packages ==="
(cd "$build" && timeout 600 cpack -G "ZIP;NSIS" >/dev/null && ls Brevomat-*-win64.*)
if [ "$with32" = ON ] && [ "$packaged32" = no ]; then
  (cd "$build32" && timeout 600 cpack -G "ZIP;NSIS" >/dev/null && ls Brevomat-*-win32.*)
fi

echo "=== what the packaged programs import ==="
# Wine finds what a real Windows lacks (the cross-compiler's zlib1.dll, the functions of a newer
# Windows than the package claims), so the tests above cannot tell: every import of every
# packaged program must be in Windows from the oldest version its package claims on.
imports_ok=yes
for zip in "$build"/Brevomat-*-win64.zip "$build32"/Brevomat-*-win32.zip; do
  [ -f "$zip" ] || continue
  case "$zip" in *-win32.zip) oldest=xpsp3 ;; *) oldest=7 ;; esac
  unpacked=$(mktemp -d)
  unzip -q "$zip" -d "$unpacked"
  echo "$(basename "$zip"):"
  bash scripts/check-imports.sh "$oldest" "$unpacked"/*/*.exe || imports_ok=no
  rm -rf "$unpacked"
done
[ "$imports_ok" = yes ] || exit 1

# Installs a build's installer silently into C:\Brevomat of its prefix and checks what it put there.
# shellcheck source=scripts/installed-files.sh
. scripts/installed-files.sh
try_installer() {
  local bits=$1 dir=$2 installer f
  prefix "$bits"
  installer=$(ls "$dir"/Brevomat-*-win"$bits".exe)
  timeout -k 10 "$limit_install" wine "$installer" /S '/D=C:\Brevomat' || {
    echo "the $bits-bit installer failed or did not end within $limit_install s"
    exit 1
  }
  wine_settle
  check_installed "$bits" || exit 1
}
echo "=== the installers ==="
if [ "$wine32" = yes ]; then try_installer 32 "$build32"; fi

echo "=== the 64-bit installer, and the installed demo on an X display ==="
prefix 64
timeout 30 wineserver --kill 2>/dev/null || true
graphics x11
try_installer 64 "$build"
closer="$(cd "$build" && pwd)/tests/win/close_window.exe"
on_xvfb=(xvfb-run -a -s "-screen 0 1024x768x24")
# Whether Wine can show a window on Xvfb at all is a matter of the machine: Wine's own Notepad
# tells. Where it cannot, the installed demo and the picture are not tried, and the reason is shown.
x_log="$build/wine-x.log"
if ! timeout -k 10 $((limit_window + limit_close + 120)) "${on_xvfb[@]}" sh scripts/show-and-close.sh \
  "$WINEPREFIX/drive_c" 'C:\windows\notepad.exe' "Untitled - Notepad" "$x_log" "$closer" "$limit_window" \
  "$limit_close" >"$build/wine-x.out"; then
  cat "$build/wine-x.out"
  echo "(Wine shows no window on an Xvfb display on this machine: the installed demo and the"
  echo " picture of the window are not tried. Wine said:)"
  tail -n 20 "$x_log" || true
  suite_note "the window on this machine: NOT drawn (Wine shows no window on an Xvfb display here)"
  stop_wine
  finish
fi
# Started in an empty folder, the installed demo shows its window and makes its cart and its
# settings file there; asked to close, it ends by itself with status 0.
check_installed_demo 64 "$closer" "$limit_window" "$limit_close" "${on_xvfb[@]}" || exit 1

echo "=== a picture of the window after a write: $build/window.png ==="
# The picture fails when the window was not drawn on the screen.
picture_window "$build/tests/win/win_screenshot.exe" "$build/window.png" || exit 1
suite_note "64-bit window: drawn on an Xvfb display on this machine, pictured in $build/window.png"
draw_32bit_window
stop_wine
finish
