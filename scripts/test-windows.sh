#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with MinGW-w64 and runs the tests under Wine, for
# 64-bit and for 32-bit Windows; builds the zip and the installer of each and tries the 64-bit
# installer as a user would.
#
# Installs the toolchains, Wine (with its 32-bit part from Debian's i386 architecture), Wine's
# fonts, NSIS, the JSON library, Xvfb, zlib for MinGW and GoogleTest's sources with apt-get when they are missing (as
# root, or through sudo). What is built is a matter of CMake options alone:
# BREVOMAT_WINDOWS_OPTIONS (default: everything but the Qt window and the benchmarks: the core, the
# virtual cart, the Win32 window programs, brevomat-cli.exe and their tests; -DBREVOMAT_PORT_ONLY=ON
# builds only the port library and its tests). Every test that the build registers with ctest runs,
# through Wine. The 32-bit build (BUILD_DIR_32, default BUILD_DIR + "-i686") builds the programs and
# the window's tests only; BREVOMAT_WINDOWS_32=OFF leaves it out. BUILD_DIR is the 64-bit build
# directory (default build-windows). Wine gets a fresh private prefix inside it each run; the tests
# run without a display (Wine's null display driver), the installed program and the picture of
# the window (BUILD_DIR/window.png) on an Xvfb display.
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
# Wine runs 32-bit programs (the 32-bit build's tests, and NSIS's own helpers) only with wine32,
# which comes from the i386 architecture. A mirror whose i386 index lags behind its amd64 one can
# make it uninstallable for a while: then the 32-bit build is still made, but not run.
wine32=no
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
      echo "wine32 could not be installed: the 32-bit tests are built but not run"
      # Leave the machine as it was: an i386 index that cannot be fetched would fail every later
      # apt-get update.
      if [ "$added" = yes ]; then $sudo dpkg --remove-architecture i386 && $sudo apt-get update -qq || true; fi
    fi
  fi
  [ -x /usr/lib/wine/wine ] && wine32=yes
fi

# The Wine prefix is made before the build: its first start takes a while, and test discovery
# must not meet a cold Wine.
echo "=== Wine prefix ==="
mkdir -p "$build"
WINEPREFIX="$(cd "$build" && pwd)/wineprefix"
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all
# No offer to install Wine's Mono and Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineserver --kill 2>/dev/null || true
rm -rf "$WINEPREFIX"
trap 'wineserver --kill 2>/dev/null || true' EXIT
# Set up the prefix and wait until Wine has finished with it: until then its service manager
# keeps the service database locked, and starting a driver fails.
wineboot --init
wineserver --wait
# The face the window was drawn in, "MS Sans Serif", and the title-bar symbols: Wine's own fonts,
# which this Wine does not look for outside the prefix.
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
# Tests make windows without a display; the X display is for the installed program (below).
graphics() {
  if [ "$1" = null ]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  else
    wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1 || true
  fi
  # Windows draw their own Windows-style frame and title bar, as on Windows.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
  wineserver --wait
}
graphics null

configure() {
  local dir=$1 toolchain=$2
  shift 2
  # shellcheck disable=SC2086 # the options are a list of words
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBREVOMAT_WERROR=ON -DBREVOMAT_GTEST_SOURCE="$gtest_source" "$@"
}
echo "=== 64-bit cross-build into $build ($options) ==="
# shellcheck disable=SC2086
configure "$build" cmake/mingw-w64.cmake $options
cmake --build "$build" -j2
if [ "$with32" = ON ]; then
  echo "=== 32-bit cross-build into $build32 (the programs and the window's tests) ==="
  configure "$build32" cmake/mingw-w64-i686.cmake -DBREVOMAT_GUI=OFF -DBREVOMAT_BENCH=OFF -DBREVOMAT_TEST_AREAS=win
  cmake --build "$build32" -j2
fi

# One Wine server for all the tests, already running: test discovery starts every test program
# once under a time limit, and a Wine that has to start its server and services first can miss it.
wineserver --persistent
wine cmd /c exit
echo "=== tests under Wine (64-bit) ==="
ctest --test-dir "$build" --output-on-failure -j2
if [ "$wine32" = yes ]; then
  echo "=== tests under Wine (32-bit) ==="
  ctest --test-dir "$build32" --output-on-failure -j2
elif [ "$with32" = ON ]; then
  echo "(32-bit tests not run: no wine32)"
fi

if [ ! -f "$build/win/brevomat-virtual.exe" ] || [ ! -f "$build/CPackConfig.cmake" ]; then
  echo "(no window programs in this build: no packages, installer or picture)"
  echo "Windows tests done in $(($(date +%s) - started)) s"
  exit 0
fi
echo "=== packages ==="
(cd "$build" && cpack -G "ZIP;NSIS" >/dev/null && ls Brevomat-*-win64.*)
if [ "$with32" = ON ]; then (cd "$build32" && cpack -G "ZIP;NSIS" >/dev/null && ls Brevomat-*-win32.*); fi
# Wine finds the cross-compiler's own DLLs (zlib1.dll and the like) where a Windows PC has none, so
# the tests above cannot tell: every DLL a packaged program imports must be part of Windows 7 or
# come with the package.
windows_dlls=" kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll msvcrt.dll "
windows_dlls+="bcrypt.dll shlwapi.dll ole32.dll shell32.dll "
imports_ok=yes
for zip in "$build"/Brevomat-*-win64.zip "$build32"/Brevomat-*-win32.zip; do
  [ -f "$zip" ] || continue
  unpacked=$(mktemp -d)
  unzip -q "$zip" -d "$unpacked"
  for exe in "$unpacked"/*/*.exe; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}'); do
      case "$windows_dlls" in *" $(echo "$dll" | tr '[:upper:]' '[:lower:]') "*) continue ;; esac
      [ -f "$(dirname "$exe")/$dll" ] && continue
      echo "$(basename "$zip"): $(basename "$exe") needs $dll, which neither Windows nor the package has"
      imports_ok=no
    done
  done
  rm -rf "$unpacked"
done
[ "$imports_ok" = yes ] || exit 1
echo "every DLL the packaged programs import is part of Windows"

echo "=== the installer, and the installed demo on an X display ==="
wineserver --kill
graphics x11
installer=$(ls "$build"/Brevomat-*-win64.exe)
wine "$installer" /S '/D=C:\Brevomat'
wineserver --wait
for f in brevomat.exe brevomat-virtual.exe brevomat-cli.exe Uninstall.exe; do
  [ -f "$WINEPREFIX/drive_c/Brevomat/$f" ] || { echo "the installer did not install $f"; exit 1; }
done
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$title"
for f in "$title.lnk" "Brevomat on a virtual cart.lnk"; do
  [ -f "$menu/$f" ] || { echo "no Start-menu entry $f"; exit 1; }
done
# Shows a Windows program on a fresh Xvfb display and waits up to a minute for its window: the
# program is started in FOLDER, and its output and Wine's errors go to LOG. Ends 0 once the window
# is there and the program, asked to close as the Task Manager asks, has ended with status 0;
# 2 when the program ended before any window appeared; 1 otherwise.
show_and_close() {
  local folder=$1 program=$2 window=$3 log
  log="$(cd "$(dirname "$4")" && pwd)/$(basename "$4")"
  xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    cd "$1" || exit 1
    WINEDEBUG=err+all wine "$2" >"$4" 2>&1 &
    pid=$!
    i=0
    until xwininfo -name "$3" >/dev/null 2>&1; do
      if ! kill -0 $pid 2>/dev/null; then
        wait $pid
        printf "%s ended with status %s before its window \"%s\" appeared\n" "$2" $? "$3"
        exit 2
      fi
      i=$((i + 1))
      if [ $i -gt 600 ]; then echo "the window \"$3\" did not appear within a minute"; kill $pid; exit 1; fi
      sleep 0.1
    done
    xwininfo -name "$3" | grep -E "Width|Height"
    wine taskkill /im "${2##*\\}" >/dev/null
    wait $pid
    status=$?
    [ $status -eq 0 ] || { printf "%s ended with status %s\n" "$2" $status; exit 1; }
  ' sh "$folder" "$program" "$window" "$log"
}
# Whether Wine can show a window on Xvfb at all is a matter of the machine: Wine's own Notepad
# tells. Where it cannot, the installed demo and the picture are not tried, and the reason is shown.
x_log="$build/wine-x.log"
if ! show_and_close "$WINEPREFIX/drive_c" 'C:\windows\notepad.exe' "Untitled - Notepad" "$x_log" >"$build/wine-x.out"; then
  cat "$build/wine-x.out"
  echo "(Wine shows no window on an Xvfb display on this machine: the installed demo and the"
  echo " picture of the window are not tried. Wine said:)"
  tail -n 20 "$x_log" || true
  wineserver --kill 2>/dev/null || true
  echo "Windows tests done in $(($(date +%s) - started)) s"
  exit 0
fi
# Started in an empty folder, the installed demo shows its window and makes its cart and its
# settings file there; asked to close, it ends with status 0.
demo=$(mktemp -d "$WINEPREFIX/drive_c/users/demo.XXXXXX")
if ! show_and_close "$demo" 'C:\Brevomat\brevomat-virtual.exe' "$title" "$build/demo.log"; then
  echo "--- what the program and Wine said:"
  tail -n 40 "$build/demo.log" || true
  exit 1
fi
[ -f "$demo/virtual-cart/cart.conf" ] || { echo "virtual-cart\\ not made"; exit 1; }
[ -f "$demo/config.sav" ] || { echo "config.sav not made"; exit 1; }
echo "the installed brevomat-virtual.exe showed its window and closed"

echo "=== a picture of the window after a write: $build/window.png ==="
xvfb-run -a -s "-screen 0 1024x768x24" wine "$build/tests/win/win_screenshot.exe" "$build/window.png"
echo "Windows tests done in $(($(date +%s) - started)) s"
