# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # its variables are those of scripts/test-windows.sh
# Sourced by scripts/test-windows.sh (and by scripts/test-ci-scripts.sh, which checks it with a
# fake run_suite and a faked virtual machine): test_32bit_suite runs the 32-bit suite where it can
# run, or fails the run; it is left out only when that was asked for (BREVOMAT_WINDOWS_32=OFF, or
# BREVOMAT_WINDOWS_32_VM=OFF where the virtual machine would run it). It reads with32, wine32, vm32
# and why32 (what test-windows.sh found out about this machine's wine32), build and build32, and
# sets note32 (a line for the summary when the suite was left out), packaged32 and restarts.
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
      echo "the 32-bit suite failed in the virtual machine"
      exit 1
    fi
    suite_passed "32-bit Windows suite under 32-bit Wine in a virtual machine (this kernel runs no 32-bit program)" \
      "$build32/ctest.log" || exit 1
    same_count "$build/ctest.log" "$build32/ctest.log" || exit 1
    [ -z "$installer32" ] || suite_note "32-bit installer and the installed programs: tried in the virtual machine"
  elif [ -n "$vm32" ]; then
    note32="32-bit Windows suite: built and its imports checked, NOT run ($why32, and BREVOMAT_WINDOWS_32_VM=$vm32)"
  else
    not_run32 "$why32"
  fi
}
