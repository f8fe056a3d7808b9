#!/bin/sh
# shellcheck disable=SC2154 # root, build32, installer, picture, limit_test and ctest_args come from OUT/settings
# Runs inside the virtual machine of scripts/wine32-vm.sh (started by its first process,
# scripts/wine32-vm-boot.sh), from the read-only share of the repository:
#
#   sh scripts/wine32-vm-guest.sh OUT
#
# OUT is the writable share: its file `settings` (written by wine32-vm.sh) names the repository's
# path on the host (root), the 32-bit build (build32), the installer to try (installer, may be
# empty), the program that draws the window and takes its picture (picture, may be empty), the
# limit of one test (limit_test) and more words for ctest (ctest_args). The repository's
# scripts and test data and the build are copied to a file system in memory at the same path
# (Wine maps the programs into memory, which a 9p mount does not do faithfully), so the absolute
# paths ctest knows hold here too. What it leaves in OUT: ctest.log and `status` (written only
# once ctest has ended), wine-restarts.log, install-status when an installer was tried, and
# picture-status, picture.log and the picture window.png when the window was to be drawn.
out=$1
# shellcheck source=/dev/null
. "$out/settings"
mkdir -p "$root"
mount -t tmpfs -o size=75% tmpfs "$root"
set -x
cd /mnt/repo && cp -a scripts tests dist "$root/" && mkdir -p "$root/$(basename "$build32")" &&
  cp -a "$(basename "$build32")/." "$root/$(basename "$build32")/"
export HOME=/root WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=/root/wineprefix WINEARCH=win32
timeout 900 wine wineboot --init
timeout 600 wineserver --wait
cp -r /usr/share/wine/fonts/. "$WINEPREFIX/drive_c/windows/Fonts/"
timeout 120 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
timeout 600 wineserver --wait
timeout 30 wineserver --persistent
timeout 300 wine cmd /c exit
export BREVOMAT_WINE_RESTARTS="$out/wine-restarts.log"
set +x
uname -srm
/usr/lib/wine/wine --version
status=0
# shellcheck disable=SC2086 # more words for ctest
ctest --test-dir "$build32" --output-on-failure --no-tests=error -j2 --timeout "$limit_test" $ctest_args \
  >"$out/ctest.log" 2>&1 || status=$?
cat "$out/ctest.log"
echo $status >"$out/status"

# The installer, tried as a user would: installed silently, its files and Start-menu entries
# there, the installed command line answering, and the installed demo started in an empty folder,
# asked to close as Windows asks, ending by itself with status 0 and leaving its cart and settings
# file behind. Wine draws nothing here (its null display driver), but the window exists as on
# Windows. (Times are generous: every Wine start takes seconds under software emulation.)
timeout 30 wineserver --kill
install_check() {
  echo "=== the 32-bit installer, and the installed programs ==="
  timeout 300 wine "$installer" /S '/D=C:\Brevomat' || {
    echo "the 32-bit installer failed or did not end within 300 s"
    return 1
  }
  timeout 300 wineserver --wait || {
    echo "Wine did not settle within 300 s after the installer"
    return 1
  }
  cd "$root" || return 1
  # shellcheck source=scripts/installed-files.sh
  . scripts/installed-files.sh
  check_installed 32 || return 1
  timeout 120 wine 'C:\Brevomat\brevomat-cli.exe' --version || {
    echo "the installed brevomat-cli.exe did not answer --version"
    return 1
  }
  check_installed_demo 32 "$build32/tests/win/close_window.exe" 300 120
}
if [ -n "$installer" ]; then
  status=0
  install_check || status=$?
  echo $status >"$out/install-status"
fi
[ -n "$picture" ] || exit 0

# The window drawn as a user sees it: Wine's X11 display driver in place of the null one the tests
# run with, on an X display of the machine's own (Xvfb), and the picture of the window after a
# write taken there. The program fails when its window was not drawn on the screen.
timeout 30 wineserver --kill
draw_window() {
  echo "=== the 32-bit window on an X display (Xvfb) ==="
  timeout 120 wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f
  # Windows draw their own Windows-style frame and title bar, as on Windows.
  timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f
  timeout 300 wineserver --wait
  cd "$root" || return 1
  drawn=0
  timeout -k 10 600 xvfb-run -a -s "-screen 0 1024x768x24" env WINEDEBUG=err+all wine "$picture" window.png \
    >"$out/picture.log" 2>&1 || drawn=$?
  if [ $drawn != 0 ]; then
    if [ $drawn = 124 ] || [ $drawn = 137 ]; then echo "the picture was not taken within 600 s"; fi
    echo "the 32-bit window was not drawn and pictured (status $drawn); the program and Wine said:"
    tail -n 40 "$out/picture.log"
    return 1
  fi
  grep -m 1 '^window frame' "$out/picture.log"
  cp window.png "$out/window.png"
}
status=0
draw_window || status=$?
echo $status >"$out/picture-status"
