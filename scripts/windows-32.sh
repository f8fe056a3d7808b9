# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # its variables are those of scripts/test-windows.sh
# Sourced by scripts/test-windows.sh (and by scripts/test-ci-scripts.sh, which checks it with a
# fake run_suite and a faked virtual machine): test_32bit_suite runs the 32-bit suite where it can
# run, or fails the run; it is left out only when that was asked for (BREVOMAT_WINDOWS_32=OFF, or
# BREVOMAT_WINDOWS_32_VM=OFF where the virtual machine would run it). It reads with32, wine32, vm32
# and why32 (what test-windows.sh found out about this machine's wine32), build and build32, and
# sets note32 (a line for the summary when the suite was left out), packaged32, restarts and
# drawn32 (yes when the virtual machine drew the 32-bit window).
#
# draw_32bit_window, called once the 64-bit window has been pictured on an Xvfb display, does the
# same for the 32-bit window where wine32 runs on this machine, and fails the run when that window
# is not drawn; the virtual machine has drawn it already (then and otherwise it says in the last
# lines where the 32-bit window was drawn, or why not). picture_window takes a picture.
# The i386 libraries 32-bit Wine's X11 display driver uses: libX11 and libXext, which wine32
# needs anyway, and the X extensions it loads when they are there (XRender, which draws its text
# and pictures, XRandR, XInput ...) with FreeType and fontconfig. wine32 only recommends them, and
# is installed without what it recommends. Installed beside wine32 where it runs, and into the
# virtual machine's image (scripts/wine32-vm.sh), whose X display is Xvfb.
wine32_x11_packages="libx11-6:i386 libxext6:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386
  libxfixes3:i386 libxinerama1:i386 libxcomposite1:i386 libxxf86vm1:i386 libfreetype6:i386 libfontconfig1:i386"
not_run32() {
  echo "the 32-bit suite did NOT run: $1"
  echo "(BREVOMAT_WINDOWS_32=OFF leaves the 32-bit build out on purpose)"
  exit 1
}
test_32bit_suite() {
  if [ "$with32" != ON ]; then
    note32="32-bit Windows suite: left out (BREVOMAT_WINDOWS_32=$with32)"
  elif [ "$wine32" = yes ]; then
    run_suite 32 "$build32"
    same_count "$build/ctest.log" "$build32/ctest.log" || exit 1
  elif [ "$vm32" = ON ]; then
    # This kernel runs no 32-bit program: the 32-bit suite runs in a virtual machine whose kernel
    # does, and the 32-bit installer is tried there, so it is made first.
    installer32=""
    if [ -f "$build32/win/brevomat-virtual.exe" ] && [ -f "$build32/CPackConfig.cmake" ]; then
      echo "=== the 32-bit packages ==="
      (cd "$build32" && timeout 600 cpack -G "ZIP;NSIS" >/dev/null && ls Brevomat-*-win32.*)
      packaged32=yes
      installer32=$(ls "$build32"/Brevomat-*-win32.exe)
    fi
    status=0
    bash scripts/wine32-vm.sh "$build32" ${installer32:+"$installer32"} || status=$?
    restarts32=0
    if [ -f "$build32/wine-restarts.log" ]; then restarts32=$(grep -c . "$build32/wine-restarts.log" || true); fi
    restarts="$restarts, $restarts32 in the 32-bit suite (virtual machine)"
    if [ "$status" = 3 ]; then
      not_run32 "$why32 here, and the virtual machine that would run it could not be made (see above)"
    elif [ "$status" != 0 ]; then
      echo "the 32-bit suite, installer or window failed in the virtual machine"
      exit 1
    fi
    suite_passed "32-bit Windows suite under 32-bit Wine in a virtual machine (this kernel runs no 32-bit program)" \
      "$build32/ctest.log" || exit 1
    same_count "$build/ctest.log" "$build32/ctest.log" || exit 1
    [ -z "$installer32" ] || suite_note "32-bit installer and the installed programs: tried in the virtual machine"
    # (Made anew by every run of the machine, when the build has the window programs.)
    if [ -f "$build32/window.png" ]; then
      drawn32=yes
      suite_note "32-bit window: drawn on an Xvfb display in the virtual machine, pictured in $build32/window.png"
    fi
  elif [ -n "$vm32" ]; then
    note32="32-bit Windows suite: built and its imports checked, NOT run ($why32, and BREVOMAT_WINDOWS_32_VM=$vm32)"
  else
    not_run32 "$why32"
  fi
}

# picture_window PROGRAM OUTPUT: the window of the build's win_screenshot.exe PROGRAM drawn by
# Wine's X11 driver on an Xvfb display of its own, in the selected prefix, and its picture after
# a write saved as OUTPUT; ends 1, with what the program and Wine said, when the window was not
# drawn (the program checks the screen) or the picture not taken within 300 s.
picture_window() {
  local status=0 log="$2.log"
  timeout -k 10 300 xvfb-run -a -s "-screen 0 1024x768x24" env WINEDEBUG=err+all wine "$1" "$2" >"$log" 2>&1 ||
    status=$?
  grep -m 1 '^window frame' "$log" || true
  [ "$status" = 0 ] && return 0
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then echo "the picture was not taken within 300 s"; fi
  echo "the window of $1 was NOT drawn and pictured (status $status); it and Wine said:"
  tail -n 30 "$log"
  return 1
}
draw_32bit_window() {
  [ "$with32" = ON ] || return 0
  if [ "$wine32" = yes ]; then
    [ -f "$build32/tests/win/win_screenshot.exe" ] || return 0
    echo "=== a picture of the 32-bit window after a write: $build32/window.png ==="
    prefix 32
    timeout 30 wineserver --kill 2>/dev/null || true
    graphics x11
    picture_window "$build32/tests/win/win_screenshot.exe" "$build32/window.png" || exit 1
    suite_note "32-bit window: drawn on an Xvfb display on this machine, pictured in $build32/window.png"
  elif [ "${drawn32:-no}" != yes ]; then
    suite_note "32-bit window: NOT drawn ($why32, and BREVOMAT_WINDOWS_32_VM=$vm32)"
  fi
}
