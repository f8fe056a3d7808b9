#!/usr/bin/env bash
# Runs the 32-bit Windows build's whole suite under 32-bit Wine inside a small Debian virtual
# machine, for a machine whose own kernel runs no 32-bit x86 program (no IA-32 emulation), where
# Wine's 32-bit loader cannot start. scripts/test-windows.sh calls it then; by hand:
#
#   bash scripts/wine32-vm.sh BUILD_DIR_32 [INSTALLER]
#
# With INSTALLER (the 32-bit build's NSIS installer), it is then installed silently, and the
# installed programs are started as a user would. When the build has the window programs, the
# machine then draws the 32-bit window on an X display of its own (Xvfb) and its picture after a
# write comes back as BUILD_DIR_32/window.png (tests/win/win_screenshot.exe).
#
# The virtual machine is QEMU's x86-64 PC under software emulation (no KVM needed) with Debian's
# kernel, whose IA-32 emulation is on, Debian's Wine with wine32 from the i386 architecture and
# what its X11 display driver uses, Xvfb, and the cross-toolchain's objdump for the import checks.
# Its disk image is made once with debootstrap (as root, from this machine's Debian mirror) and
# kept outside the repository, in
# VM_DIR (default /var/cache/brevomat/vm for root, ~/.cache/brevomat/vm for anyone else; where
# that cannot be made, BUILD_DIR_32-vm/image), and made anew when what goes into it changes. Every
# run starts from that image and writes nothing into it (QEMU's snapshot mode). What the machine
# runs is in the repository: its first process scripts/wine32-vm-boot.sh (in the image) runs
# scripts/wine32-vm-guest.sh from the repository, shared read-only over 9p; the suite's output
# comes back through a second, writable share, BUILD_DIR_32-vm/out.
#
# Exit status: 0 when the whole suite passed (and the installer and the installed programs did, and
# the window was drawn), with ctest's output in BUILD_DIR_32/ctest.log and Wine's second starts in
# BUILD_DIR_32/wine-restarts.log; 3 when it could not be run because the machine could not be made
# (arguments, tools, mirror, disk image), before it was started, with the reason; 1 for anything
# that went wrong once the machine was started: the suite failed, or did not end in time, or the
# machine died before the suite had ended (out of memory, a kernel panic, a suite cut short), or
# Wine had to start programs once more too often (scripts/wine-restarts.sh), or the window was not
# drawn.
#
# CTEST_ARGS, when set, is added to ctest's command line (by hand, to run a part: -R Link).
#
# Limits, in seconds: making the image (LIMIT_MAKE, 1200; waiting for another run that is making
# it as well, as long), the whole run in the virtual machine (LIMIT_RUN, 2400), one test (600). A
# machine that has not ended in time is stopped and the run fails with what it printed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build32=$(cd "${1:?usage: wine32-vm.sh BUILD_DIR_32}" && pwd)
# ctest knows the build by its absolute path: it is copied to the same path in the machine.
if [ "$(dirname "$build32")" != "$root" ]; then
  echo "$build32 is not a folder of $root: the virtual machine copies only folders of the repository"
  exit 3
fi
# An installer of the 32-bit build (in BUILD_DIR_32), when given, is tried after the suite.
installer=""
if [ -n "${2:-}" ]; then
  installer=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
  case "$installer" in
  "$build32"/*) ;;
  *)
    echo "$2 is not in $build32: the virtual machine copies only that build"
    exit 3
    ;;
  esac
fi
limit_make=${LIMIT_MAKE:-1200}
limit_run=${LIMIT_RUN:-2400}
limit_test=600
run=$build32-vm
if [ -n "${VM_DIR:-}" ]; then
  vm=$VM_DIR
elif [ "$(id -u)" = 0 ]; then
  vm=/var/cache/brevomat/vm
else
  vm=${XDG_CACHE_HOME:-$HOME/.cache}/brevomat/vm
fi
if ! mkdir -p "$vm" 2>/dev/null || [ ! -w "$vm" ]; then
  echo "(the image's folder $vm cannot be made: the image is made into $run/image, for this build only)"
  vm=$run/image
  mkdir -p "$vm"
fi
vm=$(cd "$vm" && pwd)
mkdir -p "$run"

sudo=""
if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive
missing=()
command -v debootstrap >/dev/null || [ -x /usr/sbin/debootstrap ] || missing+=(debootstrap)
command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
command -v mkfs.ext4 >/dev/null || [ -x /usr/sbin/mkfs.ext4 ] || missing+=(e2fsprogs)
if [ ${#missing[@]} -gt 0 ]; then
  echo "=== installing ${missing[*]} ==="
  $sudo apt-get update -qq || true
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || {
    echo "${missing[*]} could not be installed"
    exit 3
  }
fi
PATH=$PATH:/usr/sbin:/sbin

# The disk image: Debian as on this machine, with its kernel, ctest and Wine (both halves), and the
# first process. What goes into it is its recipe; an image of another recipe is made anew. One
# run at a time makes it (a lock in VM_DIR), and a run that finds it made uses it as it is.
# (Debian's mirror can move on between two runs: a kept image keeps the versions it was made with.)
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
packages=linux-image-amd64,initramfs-tools,cmake,wine,wine64,fonts-wine,procps,kmod,binutils-mingw-w64-i686,binutils-mingw-w64-x86-64,xvfb,xauth
# shellcheck source=scripts/windows-32.sh
. scripts/windows-32.sh
i386_packages="wine32:i386 $(echo "$wine32_x11_packages" | tr -s ' \n' '  ')"
recipe="$suite $packages $i386_packages $(sha256sum <scripts/wine32-vm-boot.sh | cut -d' ' -f1)"
exec 9>"$vm/lock"
flock -w "$limit_make" 9 || {
  echo "another run kept the image's folder $vm locked for $limit_make s"
  exit 3
}
if [ "$(cat "$vm/recipe" 2>/dev/null)" != "$recipe" ] || [ ! -f "$vm/root.img" ]; then
  rootfs=$vm/rootfs
  echo "=== the virtual machine's disk image, into $vm ==="
  $sudo rm -rf "$rootfs" "$vm/recipe" "$vm/root.img" "$vm/vmlinuz" "$vm/initrd.img"
  mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\/*\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  [ -n "$mirror" ] || mirror=$(sed -n 's/^deb \[*[^]]*\]* *\(http[^ ]*\) .*main.*/\1/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
  [ -n "$mirror" ] || mirror=http://deb.debian.org/debian
  timeout "$limit_make" $sudo debootstrap --variant=minbase --include="$packages" \
    "$suite" "$rootfs" "$mirror" >"$vm/debootstrap.log" 2>&1 || {
    echo "debootstrap failed or did not end within $limit_make s:"
    tail -n 20 "$vm/debootstrap.log"
    exit 3
  }
  $sudo cp /etc/resolv.conf "$rootfs/etc/resolv.conf"
  # (A few i386 packages run 32-bit helpers as they are set up; on this machine those only warn,
  # into wine32.log, and Wine needs nothing they make.)
  timeout "$limit_make" $sudo chroot "$rootfs" sh -c "dpkg --add-architecture i386 && apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $i386_packages && apt-get clean" \
    >"$vm/wine32.log" 2>&1 || {
    echo "wine32 could not be installed into the virtual machine:"
    tail -n 20 "$vm/wine32.log"
    exit 3
  }
  $sudo rm -f "$rootfs/etc/resolv.conf"
  $sudo install -m 755 scripts/wine32-vm-boot.sh "$rootfs/brevomat-init"
  kernel=$(ls "$rootfs"/boot/vmlinuz-* | sort -V | tail -n 1)
  initrd=$(ls "$rootfs"/boot/initrd.img-* | sort -V | tail -n 1)
  $sudo cp "$kernel" "$vm/vmlinuz"
  $sudo cp "$initrd" "$vm/initrd.img"
  $sudo mkfs.ext4 -q -F -d "$rootfs" "$vm/root.img.new" 4G || {
    echo "the virtual machine's disk could not be made"
    exit 3
  }
  $sudo mv "$vm/root.img.new" "$vm/root.img"
  $sudo rm -rf "$rootfs"
  echo "$recipe" | $sudo tee "$vm/recipe" >/dev/null
fi
# While the machine runs, the lock is shared: other runs may use the image too, but one that would
# make it anew waits until they have ended.
flock -s -w "$limit_make" 9 || {
  echo "the image's folder $vm could not be locked for a run within $limit_make s"
  exit 3
}

echo "=== the 32-bit suite in a virtual machine (software emulation) ==="
out=$run/out
rm -rf "$out" "$build32/ctest.log" "$build32/wine-restarts.log" "$build32/window.png"
# The program that draws the window and takes its picture, in a build that has the window programs.
picture=""
[ ! -f "$build32/tests/win/win_screenshot.exe" ] || picture=$build32/tests/win/win_screenshot.exe
mkdir -p "$out"
# What the machine runs is told in a file of the writable share, each value quoted for sh.
quote() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
{
  echo "root=$(quote "$root")"
  echo "build32=$(quote "$build32")"
  echo "installer=$(quote "$installer")"
  echo "picture=$(quote "$picture")"
  echo "limit_test=$(quote "$limit_test")"
  echo "ctest_args=$(quote "${CTEST_ARGS:-}")"
} >"$out/settings"
started=$(date +%s)
status=0
accel=(-accel tcg,thread=multi)
if [ -w /dev/kvm ]; then accel=(-accel kvm "${accel[@]}"); fi
timeout -k 30 "$limit_run" qemu-system-x86_64 "${accel[@]}" -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt \
  -smp "$(nproc)" -m 4G -nographic -no-reboot \
  -kernel "$vm/vmlinuz" -initrd "$vm/initrd.img" -append "root=/dev/vda rw console=ttyS0 init=/brevomat-init quiet" \
  -drive "file=$vm/root.img,format=raw,if=virtio,snapshot=on" \
  -virtfs "local,path=$root,mount_tag=repo,security_model=none,readonly=on,id=repo" \
  -virtfs "local,path=$out,mount_tag=out,security_model=none,id=out" >"$run/console.log" 2>&1 || status=$?
echo "(the virtual machine ran $(($(date +%s) - started)) s)"
cat "$out/run.log" 2>/dev/null || true
[ ! -f "$out/ctest.log" ] || cp "$out/ctest.log" "$build32/ctest.log"
[ ! -f "$out/wine-restarts.log" ] || cp "$out/wine-restarts.log" "$build32/wine-restarts.log"
# From here on every failure is the run's: the machine was started.
console() {
  echo "--- the end of the machine's console:"
  tail -n 30 "$run/console.log"
}
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
  echo "the virtual machine did not end within $limit_run s"
  [ ! -f "$out/ctest.log" ] || { echo "--- the end of what ctest said:"; tail -n 20 "$out/ctest.log"; }
  console
  exit 1
fi
if [ ! -f "$out/booted" ]; then
  echo "the virtual machine ended (status $status) before its first process ran"
  console
  exit 1
fi
if [ ! -f "$out/status" ]; then
  echo "the virtual machine ended (status $status) before the suite did: the 32-bit suite did not run to its end"
  [ ! -f "$out/ctest.log" ] || { echo "--- the end of what ctest said:"; tail -n 20 "$out/ctest.log"; }
  console
  exit 1
fi
failed=no
sh scripts/wine-restarts.sh "$build32/wine-restarts.log" "32-bit suite (virtual machine)" || failed=yes
if [ "$(cat "$out/status")" != 0 ]; then
  echo "the 32-bit suite failed in the virtual machine (ctest's status $(cat "$out/status"))"
  failed=yes
fi
# shellcheck source=scripts/suite-summary.sh
. scripts/suite-summary.sh
if [ -z "$(suite_count "$out/ctest.log")" ]; then
  echo "ctest ended in the virtual machine without saying how many tests ran: the suite did not run to its end"
  failed=yes
fi
if [ -n "$installer" ] && [ "$(cat "$out/install-status" 2>/dev/null)" != 0 ]; then
  echo "the 32-bit installer or the installed programs failed in the virtual machine"
  failed=yes
fi
if [ -n "$picture" ]; then
  if [ "$(cat "$out/picture-status" 2>/dev/null)" = 0 ] && [ -f "$out/window.png" ]; then
    cp "$out/window.png" "$build32/window.png"
    echo "the 32-bit window was drawn on the virtual machine's X display (Xvfb): $build32/window.png"
  else
    echo "the 32-bit window was NOT drawn in the virtual machine"
    failed=yes
  fi
fi
[ "$failed" = no ] || exit 1
echo "the 32-bit suite ran $(suite_count "$out/ctest.log") tests in the virtual machine and passed"
