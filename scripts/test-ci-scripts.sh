#!/usr/bin/env bash
# Checks the CI scripts against the failures they must catch, with fakes of what they drive: a
# `wine` that ends without a word (scripts/wine-run.sh, scripts/wine-restarts.sh), Windows programs
# that show no window, ignore being asked to close or end in failure (scripts/show-and-close.sh
# and check_installed_demo), a virtual machine that dies after it booted, panics, hangs, cuts its
# suite short or fails it, or does not draw the window, and a disk image that cannot be made
# (scripts/wine32-vm.sh), a 32-bit window that is not drawn (scripts/windows-32.sh), and the
# counts the last lines are made of (scripts/suite-summary.sh). One command, no Wine, no QEMU, no
# network, a few seconds; every fake and every check has a time limit:
#
#   bash scripts/test-ci-scripts.sh
#
# Ends 0 when every check saw the status and the words it expects, 1 naming those that did not.
set -euo pipefail
# The faked suites below must not reach the summary of the CI run that checks them.
unset BREVOMAT_SUMMARY
cd "$(dirname "$0")/.."
root=$(pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/brevomat-ci-scripts.XXXXXX")
# The virtual machine copies only folders of the repository: the fake 32-bit build is one
# (ignored by git, as every build folder), removed at the end.
build32=$root/build-ci-scripts-check-i686
trap 'rm -rf "$work" "$build32" "$build32-vm"' EXIT
export work build32
fakes=$work/bin
mkdir -p "$fakes"
failures=()

# check NAME STATUS WORDS [NAME=VALUE...] COMMAND...: runs COMMAND (a program or one of the
# functions exported here) with those variables, within 60 s, and expects it to end with STATUS and
# to say WORDS; shows what it said when not.
check() {
  local name=$1 want=$2 words=$3 status=0 vars=()
  shift 3
  while [[ $1 =~ ^[A-Z_0-9]+= ]]; do
    vars+=("$1")
    shift
  done
  timeout -k 5 60 env "${vars[@]}" bash -c '"$@"' sh "$@" >"$work/said" 2>&1 || status=$?
  if [ "$status" = "$want" ] && { [ -z "$words" ] || grep -qF -- "$words" "$work/said"; }; then
    echo "ok: $name"
  else
    echo "FAILED: $name: ended $status (expected $want) and said (expected \"$words\"):"
    sed 's/^/  | /' "$work/said"
    failures+=("$name")
  fi
}
# expect NAME CONDITION...: a check of what a command left behind.
expect() {
  local name=$1
  shift
  if "$@"; then echo "ok: $name"; else
    echo "FAILED: $name"
    failures+=("$name")
  fi
}
lines() { if [ -f "$1" ]; then grep -c . "$1" || true; else echo 0; fi; }

# --- A fake `wine`. Every start is counted in $work/wine-starts. FAKE_WINE says how a program
# behaves: silent-once (the first start ends 1 without a word, later ones run), silent (every
# start ends 1 without a word), talks (prints and ends 0). close_window.exe, and the fake programs
# of FAKE_PROGRAM for show-and-close.sh, are below.
cat >"$fakes/wine" <<'FAKE'
#!/bin/sh
echo "$*" >>"$FAKE_WORK/wine-starts"
case "$1" in
*close_window.exe)
  [ -f "$FAKE_WORK/window" ] || { echo "close_window: no window \"$2\"" >&2; exit 1; }
  touch "$FAKE_WORK/closed"
  exit 0
  ;;
*virtual.exe | *notepad.exe)
  case "$FAKE_PROGRAM" in
  closes | closes-badly | closes-no-files)
    touch "$FAKE_WORK/window"
    i=0
    while [ ! -f "$FAKE_WORK/closed" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    if [ "$FAKE_PROGRAM" = closes ]; then mkdir -p virtual-cart && touch virtual-cart/cart.conf config.sav; fi
    [ "$FAKE_PROGRAM" != closes-badly ] || exit 5
    exit 0
    ;;
  ignores) touch "$FAKE_WORK/window"; exec sleep 50 ;;
  no-window) exec sleep 50 ;;
  dies) echo "err:module:import_dll Library missing" >&2; exit 3 ;;
  esac
  ;;
*win_screenshot.exe)
  # FAKE_DRAWN=no: Wine has no display driver to draw with.
  [ "${FAKE_DRAWN:-yes}" = yes ] || { echo "the window was not drawn on the screen (no display driver?)"; exit 1; }
  echo "window frame 418x418+303+175, status \"Write Cart ok\""
  touch "$2"
  exit 0
  ;;
esac
n=$(grep -c . "$FAKE_WORK/wine-starts")
case "$FAKE_WINE" in
silent-once) [ "$n" -gt 1 ] || exit 1 ;;
silent) exit 1 ;;
esac
echo "[==========] Running 1 test from 1 test suite."
exit 0
FAKE
chmod +x "$fakes/wine"
export FAKE_WORK=$work PATH="$fakes:$PATH"
unset DISPLAY
fresh() { rm -f "$work/wine-starts" "$work/restarts" "$work/window" "$work/closed"; }
export BREVOMAT_WINE_RESTARTS=$work/restarts

echo "--- scripts/wine-run.sh and scripts/wine-restarts.sh"
fresh
check "a program that Wine failed to start once is started once more and passes" 0 "Running 1 test" \
  FAKE_WINE=silent-once sh scripts/wine-run.sh C:/tests/a.exe --gtest_list_tests
expect "... and that second start is listed" [ "$(lines "$work/restarts")" = 1 ]
check "... and counted in the suite's last line" 0 "64-bit suite: 1 Wine restarts" \
  sh scripts/wine-restarts.sh "$work/restarts" "64-bit suite"
check "the same program needing a second start again in the run is not started again, and fails" 1 \
  "not started again" FAKE_WINE=silent sh scripts/wine-run.sh C:/tests/a.exe --gtest_filter=T.b
expect "... after one start only" [ "$(lines "$work/wine-starts")" = 3 ]
fresh
check "a program that Wine never starts fails after its second start" 1 "started once more" \
  FAKE_WINE=silent sh scripts/wine-run.sh C:/tests/b.exe
expect "... which were two" [ "$(lines "$work/wine-starts")" = 2 ]
fresh
check "a program that says something and fails is not started again" 0 "Running 1 test" \
  FAKE_WINE=talks sh scripts/wine-run.sh C:/tests/c.exe
expect "... and no second start is listed" [ "$(lines "$work/restarts")" = 0 ]
printf 'C:/a.exe\tfirst\nC:/b.exe\tsecond\nC:/c.exe\tthird\n' >"$work/restarts"
check "three second starts of three programs in one run pass" 0 "3 Wine restarts" \
  sh scripts/wine-restarts.sh "$work/restarts" suite
printf 'C:/d.exe\tfourth\n' >>"$work/restarts"
check "four in one run fail" 1 "more than 3: failed" sh scripts/wine-restarts.sh "$work/restarts" suite
printf 'C:/a.exe\tfirst\nC:/a.exe\tagain\n' >"$work/restarts"
check "one program started once more twice fails" 1 "more than once" \
  sh scripts/wine-restarts.sh "$work/restarts" suite
check "no list is no restart" 0 "suite: 0 Wine restarts" sh scripts/wine-restarts.sh "$work/none" suite

echo "--- scripts/show-and-close.sh and check_installed_demo (Wine's null display driver)"
mkdir -p "$work/folder"
show() { sh scripts/show-and-close.sh "$work/folder" 'C:\Brevomat\brevomat-virtual.exe' "Tarvex Brevomat 1.2nt" \
  "$work/show.log" "$work/close_window.exe" "$@"; }
export -f show
fresh
check "a program that shows its window and ends when asked passes" 0 "" FAKE_PROGRAM=closes show 5 5
fresh
check "a program that does not end when asked is ended from outside and fails" 1 \
  "did not end within 2 s of being asked to close; ended from outside" FAKE_PROGRAM=ignores show 5 2
fresh
check "a program whose window never appears fails" 1 "did not appear within 2 s" \
  FAKE_PROGRAM=no-window show 2 5
fresh
check "a program that ends before its window appears fails with 2" 2 "ended with status 3 before its window" \
  FAKE_PROGRAM=dies show 5 5
fresh
check "a program that ends in failure when asked to close fails" 1 "ended with status 5" \
  FAKE_PROGRAM=closes-badly show 5 5
demo() {
  mkdir -p "$work/prefix/drive_c/users"
  # shellcheck disable=SC2016 # expanded by the inner shell
  WINEPREFIX=$work/prefix bash -c '. scripts/installed-files.sh && check_installed_demo 32 "$1" 5 5' sh \
    "$work/close_window.exe"
}
export -f demo
fresh
check "the installed demo that shows its window, closes and leaves its cart passes" 0 \
  "the installed 32-bit brevomat-virtual.exe showed its window and closed" FAKE_PROGRAM=closes demo
fresh
check "the installed demo that closes but leaves no cart fails" 1 "made no virtual-cart" \
  FAKE_PROGRAM=closes-no-files demo

echo "--- scripts/suite-summary.sh"
. scripts/suite-summary.sh
export -f suite_passed suite_note suite_count same_count
printf 'Start 1: a\n100%% tests passed, 0 tests failed out of 220\n\nTotal Test time (real) = 41 s\n' >"$work/220.log"
printf 'Start 1: a\n100%% tests passed, 0 tests failed out of 219\n' >"$work/219.log"
printf 'Start 1: a\n1/220 Test #1: a ... Passed\n' >"$work/cut.log"
check "a suite's count is read from ctest's last lines" 0 "native: 220 tests passed" \
  BREVOMAT_SUMMARY="$work/sum1:$work/sum2" suite_passed native "$work/220.log"
expect "... and added to the first summary file" grep -qx "native: 220 tests passed" "$work/sum1"
expect "... and to the second" grep -qx "native: 220 tests passed" "$work/sum2"
check "a ctest run that never said its count did not run the suite" 1 "did not run to its end" \
  suite_passed native "$work/cut.log"
check "a 32-bit suite of as many tests as the 64-bit one passes" 0 "" same_count "$work/220.log" "$work/220.log"
check "a 32-bit suite of fewer tests than the 64-bit one fails" 1 "ran 219 tests, the 64-bit one 220" \
  same_count "$work/220.log" "$work/219.log"
check "a 32-bit suite that said no count fails" 1 "ran no tests" same_count "$work/220.log" "$work/cut.log"

echo "--- scripts/wine32-vm.sh with a fake QEMU, debootstrap, chroot and mkfs.ext4"
# FAKE_VM says what the machine does: pass, dies (booted, suite begun, killed by the kernel),
# panic (never reaches its first process), hang, short (ctest ended without its count), fail (the
# suite failed), restarts (one program needed Wine twice), noinstall (the installer failed),
# undrawn (the window was not drawn).
cat >"$fakes/qemu-system-x86_64" <<'FAKE'
#!/bin/sh
echo "$*" >>"$FAKE_WORK/qemu-starts"
out=""
for a in "$@"; do
  case "$a" in local,path=*,mount_tag=out,*) out=${a#local,path=}; out=${out%%,*} ;; esac
done
[ -f "$out/settings" ] || { echo "no settings in the share"; exit 1; }
case "$FAKE_VM" in panic) echo "Kernel panic - not syncing: VFS: Unable to mount root fs"; exit 0 ;; esac
date +%s >"$out/booted"
case "$FAKE_VM" in
hang) exec sleep 50 ;;
dies)
  printf 'Start 1: a\n' >"$out/ctest.log"
  echo "Out of memory: Killed process 412 (wineserver)"
  exit 0
  ;;
short) printf 'Start 1: a\n' >"$out/ctest.log"; echo 0 >"$out/status"; exit 0 ;;
esac
printf '100%% tests passed, 0 tests failed out of 220\n' >"$out/ctest.log"
echo 0 >"$out/status"
case "$FAKE_VM" in
fail) printf '99%% tests passed, 1 tests failed out of 220\n' >"$out/ctest.log"; echo 8 >"$out/status" ;;
restarts) printf 'C:/a.exe\tfirst\nC:/a.exe\tagain\n' >"$out/wine-restarts.log" ;;
noinstall) echo 1 >"$out/install-status" ;;
*) echo 0 >"$out/install-status" ;;
esac
# The window, drawn when the settings name the program that pictures it.
if grep -q "^picture='.\+'" "$out/settings"; then
  if [ "$FAKE_VM" = undrawn ]; then echo 1 >"$out/picture-status"; else
    echo 0 >"$out/picture-status"
    touch "$out/window.png"
  fi
fi
echo "the run's log"
FAKE
cat >"$fakes/debootstrap" <<'FAKE'
#!/bin/sh
echo "$*" >>"$FAKE_WORK/debootstrap-starts"
[ "${FAKE_MIRROR:-}" != down ] || { echo "E: Failed getting release file"; exit 1; }
for a in "$@"; do rootfs=$prev; prev=$a; done
mkdir -p "$rootfs/boot" "$rootfs/etc"
touch "$rootfs/boot/vmlinuz-6.1.0-1-amd64" "$rootfs/boot/initrd.img-6.1.0-1-amd64"
FAKE
printf '#!/bin/sh\nexit 0\n' >"$fakes/chroot"
printf '#!/bin/sh\nfor a in "$@"; do image=$prev; prev=$a; done\ntouch "$image"\n' >"$fakes/mkfs.ext4"
printf '#!/bin/sh\nexec "$@"\n' >"$fakes/sudo"
printf '#!/bin/sh\necho "apt-get is not run in these checks"\nexit 1\n' >"$fakes/apt-get"
chmod +x "$fakes"/*
mkdir -p "$build32/tests/win"
touch "$build32/Brevomat-1.2-win32.exe" "$build32/tests/win/win_screenshot.exe"
vm() { VM_DIR=$work/vm LIMIT_RUN=3 LIMIT_MAKE=10 bash scripts/wine32-vm.sh "$build32" "$build32/Brevomat-1.2-win32.exe"; }
export -f vm
check "a machine that cannot be made (no mirror) could not be run: 3" 3 "debootstrap failed" \
  FAKE_MIRROR=down FAKE_VM=pass vm
check "a machine that runs the suite and passes passes" 0 "ran 220 tests in the virtual machine and passed" \
  FAKE_VM=pass vm
expect "... its image is made once" [ "$(lines "$work/debootstrap-starts")" = 2 ]
check "a machine that runs the suite and passes passes again" 0 "and passed" FAKE_VM=pass vm
expect "... with the image it kept" [ "$(lines "$work/debootstrap-starts")" = 2 ]
expect "... and ctest's output comes back into the build" grep -q "out of 220" "$build32/ctest.log"
expect "... and the picture of the window" [ -f "$build32/window.png" ]
check "a machine that dies after it booted fails (not 3)" 1 "before the suite did" FAKE_VM=dies vm
check "a machine that panics before its first process fails (not 3)" 1 "before its first process ran" \
  FAKE_VM=panic vm
check "a machine that does not end fails within its limit" 1 "did not end within 3 s" FAKE_VM=hang vm
check "a suite that ends without its count fails" 1 "without saying how many tests ran" FAKE_VM=short vm
check "a failing suite fails" 1 "failed in the virtual machine (ctest's status 8)" FAKE_VM=fail vm
check "a program that needed Wine twice fails" 1 "more than once" FAKE_VM=restarts vm
check "a failed installer fails" 1 "the 32-bit installer or the installed programs failed" FAKE_VM=noinstall vm
check "a window not drawn fails" 1 "the 32-bit window was NOT drawn in the virtual machine" FAKE_VM=undrawn vm
expect "... and leaves no picture" [ ! -f "$build32/window.png" ]
check "the suite without the installer passes" 0 "and passed" \
  FAKE_VM=noinstall VM_DIR="$work/vm" LIMIT_RUN=3 bash scripts/wine32-vm.sh "$build32"

echo "--- scripts/windows-32.sh: the 32-bit suite runs and its window is drawn, or the Windows script fails"
# test_32bit_suite and then draw_32bit_window with what test-windows.sh would have found: WINE32
# (yes: wine32 runs here), VM32 (ON: the virtual machine runs the suite; OFF: asked not to; empty:
# wine32 not installable), WITH32, a fake run_suite whose 32-bit suite ran the tests of RUN32_LOG,
# and an X display (a fake xvfb-run) on which Wine draws the window unless FAKE_DRAWN=no. The
# 64-bit suite ran 220.
printf '#!/bin/sh\nwhile [ "$1" = -a ] || [ "$1" = -s ]; do [ "$1" = -a ] && shift || shift 2; done\nexec "$@"\n' \
  >"$fakes/xvfb-run"
printf '#!/bin/sh\nexit 0\n' >"$fakes/wineserver"
chmod +x "$fakes/xvfb-run" "$fakes/wineserver"
mkdir -p "$work/build64"
cp "$work/220.log" "$work/build64/ctest.log"
verdict() {
  set -euo pipefail
  build=$work/build64 restarts="0 in the 64-bit suite" note32="" packaged32=no
  why32="this machine runs no 32-bit x86 program" wine32=${WINE32:-no} with32=${WITH32:-ON} vm32=${VM32-ON}
  run_suite() { cp "${RUN32_LOG:-$work/220.log}" "$2/ctest.log"; }
  prefix() { :; }
  graphics() { :; }
  . scripts/suite-summary.sh
  . scripts/windows-32.sh
  test_32bit_suite
  draw_32bit_window
  echo "the Windows script goes on; note: ${note32:-none}; restarts: $restarts"
}
export -f verdict
rm -f "$build32/Brevomat-1.2-win32.exe"
check "a 32-bit suite that passed in the virtual machine passes" 0 "in a virtual machine (this kernel runs no 32-bit program): 220 tests passed" \
  FAKE_VM=pass VM_DIR="$work/vm" LIMIT_RUN=3 verdict
check "... and says where its window was drawn" 0 "32-bit window: drawn on an Xvfb display in the virtual machine" \
  FAKE_VM=pass VM_DIR="$work/vm" LIMIT_RUN=3 verdict
check "... and its restarts are counted" 0 "restarts: 0 in the 64-bit suite, 0 in the 32-bit suite (virtual machine)" \
  FAKE_VM=pass VM_DIR="$work/vm" LIMIT_RUN=3 verdict
check "a virtual machine that could not be made fails the Windows script" 1 "the 32-bit suite did NOT run" \
  FAKE_MIRROR=down VM_DIR="$work/vm-down" LIMIT_MAKE=10 verdict
check "a virtual machine that died after it booted fails the Windows script" 1 "failed in the virtual machine" \
  FAKE_VM=dies VM_DIR="$work/vm" LIMIT_RUN=3 verdict
check "a 32-bit window the virtual machine did not draw fails the Windows script" 1 "the 32-bit window was NOT drawn" \
  FAKE_VM=undrawn VM_DIR="$work/vm" LIMIT_RUN=3 verdict
rm -f "$build32/window.png"
check "a 32-bit window drawn on this machine passes, and says so" 0 "32-bit window: drawn on an Xvfb display on this machine" \
  WINE32=yes verdict
expect "... with its picture" [ -f "$build32/window.png" ]
check "a 32-bit window not drawn on this machine fails the Windows script" 1 "was NOT drawn and pictured" \
  WINE32=yes FAKE_DRAWN=no verdict
check "a wine32 that could not be installed fails the Windows script" 1 "the 32-bit suite did NOT run" VM32= verdict
check "a 32-bit suite of fewer tests on this machine fails the Windows script" 1 "ran 219 tests, the 64-bit one 220" \
  WINE32=yes RUN32_LOG="$work/219.log" verdict
check "BREVOMAT_WINDOWS_32=OFF leaves it out, and says so" 0 "note: 32-bit Windows suite: left out (BREVOMAT_WINDOWS_32=OFF)" \
  WITH32=OFF verdict
check "BREVOMAT_WINDOWS_32_VM=OFF leaves it out, and says so" 0 "NOT run (this machine runs no 32-bit x86 program, and BREVOMAT_WINDOWS_32_VM=OFF)" \
  VM32=OFF verdict
check "... and that its window was not drawn" 0 "32-bit window: NOT drawn (this machine runs no 32-bit x86 program, and BREVOMAT_WINDOWS_32_VM=OFF)" \
  VM32=OFF verdict

if [ ${#failures[@]} -gt 0 ]; then
  echo "${#failures[@]} checks of the CI scripts failed:"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "every check of the CI scripts passed"
