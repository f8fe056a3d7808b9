#!/usr/bin/env bash
# Runs the 32-bit Windows build's whole suite under 32-bit Wine inside a small Debian virtual
# machine, for a machine whose own kernel runs no 32-bit x86 program (no IA-32 emulation), where
# Wine's 32-bit loader cannot start. scripts/test-windows.sh calls it then; by hand:
#
#   bash scripts/wine32-vm.sh BUILD_DIR_32 [INSTALLER]
#
# With INSTALLER (the 32-bit build's NSIS installer), it is then installed silently, and the
# installed programs are started as a user would.
#
# The virtual machine is QEMU's x86-64 PC under software emulation (no KVM needed) with Debian's
# kernel, whose IA-32 emulation is on, Debian's Wine with wine32 from the i386 architecture, and
# the cross-toolchain's objdump for the import checks. Its root file system is made once with
# debootstrap (as root, from this machine's Debian mirror) and kept in VM_DIR (default
# BUILD_DIR_32-vm); every run starts from a fresh disk made from it. The
# repository is shared read-only over 9p and copied, with the build, to a file system in the
# machine's memory at the same path (Wine maps the programs into memory, which a 9p mount does
# not do faithfully), so the absolute paths ctest knows hold there too. ctest's output comes back
# through a second, writable share.
#
# Exit status: 0 when the whole suite passed (and the installer and the installed programs did),
# 1 when it ran and failed or did not end in time, 3 when it could not be run at all (tools, root
# file system or virtual machine), with the reason.
#
# CTEST_ARGS, when set, is added to ctest's command line (by hand, to run a part: -R Link).
#
# Limits, in seconds: making the root file system (LIMIT_MAKE, 1200), the whole run in the virtual
# machine (LIMIT_RUN, 2400), one test (600). A machine that has not ended in time is stopped and
# the run fails with what it printed.
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
vm=${VM_DIR:-$build32-vm}
limit_make=${LIMIT_MAKE:-1200}
limit_run=${LIMIT_RUN:-2400}
limit_test=600
mkdir -p "$vm"
vm=$(cd "$vm" && pwd)

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

# The root file system: Debian as on this machine, with its kernel, ctest and Wine (both halves).
rootfs=$vm/rootfs
if [ ! -f "$rootfs/.brevomat-ready" ]; then
  echo "=== the virtual machine's root file system, into $rootfs ==="
  mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\/*\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  [ -n "$mirror" ] || mirror=$(sed -n 's/^deb \[*[^]]*\]* *\(http[^ ]*\) .*main.*/\1/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
  [ -n "$mirror" ] || mirror=http://deb.debian.org/debian
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  $sudo rm -rf "$rootfs"
  timeout "$limit_make" $sudo debootstrap --variant=minbase \
    --include=linux-image-amd64,initramfs-tools,cmake,wine,wine64,fonts-wine,procps,kmod,binutils-mingw-w64-i686,binutils-mingw-w64-x86-64 \
    "$suite" "$rootfs" "$mirror" >"$vm/debootstrap.log" 2>&1 || {
    echo "debootstrap failed or did not end within $limit_make s:"
    tail -n 20 "$vm/debootstrap.log"
    exit 3
  }
  $sudo cp /etc/resolv.conf "$rootfs/etc/resolv.conf"
  # (A few i386 packages run 32-bit helpers as they are set up; on this machine those only warn,
  # into wine32.log, and Wine needs nothing they make.)
  timeout "$limit_make" $sudo chroot "$rootfs" sh -c 'dpkg --add-architecture i386 && apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine32:i386 && apt-get clean' \
    >"$vm/wine32.log" 2>&1 || {
    echo "wine32 could not be installed into the virtual machine:"
    tail -n 20 "$vm/wine32.log"
    exit 3
  }
  $sudo rm -f "$rootfs/etc/resolv.conf"
  $sudo touch "$rootfs/.brevomat-ready"
fi

# What the machine runs as its first process: the shares, the copy, Wine's prefix, the suite.
# shellcheck disable=SC2016 # expanded inside the virtual machine
$sudo tee "$rootfs/brevomat-init" >/dev/null <<EOF
#!/bin/sh
PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin; export PATH
mount -t proc proc /proc; mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm; mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm; mount -t tmpfs tmpfs /tmp
modprobe 9pnet_virtio; modprobe 9p
mkdir -p /mnt/repo /mnt/out "$root"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,ro repo /mnt/repo
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 out /mnt/out
mount -t tmpfs -o size=75% tmpfs "$root"
(
  set -x
  cd /mnt/repo && cp -a scripts tests dist "$root/" && mkdir -p "$root/$(basename "$build32")" &&
    cp -a "$(basename "$build32")/." "$root/$(basename "$build32")/"
  export HOME=/root WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=/root/wineprefix WINEARCH=win32
  timeout 900 wine wineboot --init; timeout 600 wineserver --wait
  cp -r /usr/share/wine/fonts/. "\$WINEPREFIX/drive_c/windows/Fonts/"
  timeout 120 wine reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f
  timeout 600 wineserver --wait
  timeout 30 wineserver --persistent; timeout 300 wine cmd /c exit
  export BREVOMAT_WINE_RESTARTS=/mnt/out/wine-restarts.log
  set +x
  uname -srm; /usr/lib/wine/wine --version
  status=0
  ctest --test-dir "$build32" --output-on-failure -j2 --timeout $limit_test ${CTEST_ARGS:-} || status=\$?
  echo \$status >/mnt/out/status
  if [ -n "$installer" ]; then
    timeout 30 wineserver --kill
    status=0
    /brevomat-install-check "$installer" "$build32/tests/win/close_window.exe" "$root/scripts/installed-files.sh" || status=\$?
    echo \$status >/mnt/out/install-status
  fi
) >/mnt/out/run.log 2>&1
sync
echo o >/proc/sysrq-trigger
sleep 60
EOF
# The installer, tried as a user would: installed silently, its files and Start-menu entries
# there, the installed command line answering, and the installed demo started in an empty folder,
# asked to close as Windows asks (WM_CLOSE to its window), ending by itself with status 0 and
# leaving its cart and settings file behind. Wine draws nothing here (its null display driver),
# but the window exists as on Windows.
$sudo tee "$rootfs/brevomat-install-check" >/dev/null <<'EOF'
#!/bin/sh
# (installer, close_window.exe, scripts/installed-files.sh)
installer=$1 closer=$2 title="Tarvex Brevomat 1.2nt"
fail() { echo "$*"; exit 1; }
echo "=== the 32-bit installer, and the installed programs ==="
timeout 300 wine "$installer" /S '/D=C:\Brevomat' || fail "the 32-bit installer failed or did not end within 300 s"
timeout 300 wineserver --wait || fail "Wine did not settle within 300 s after the installer"
. "$3"
check_installed 32 || exit 1
timeout 120 wine 'C:\Brevomat\brevomat-cli.exe' --version || fail "the installed brevomat-cli.exe did not answer --version"
demo=$(mktemp -d "$WINEPREFIX/drive_c/users/demo.XXXXXX")
cd "$demo" || exit 1
WINEDEBUG=err+all wine 'C:\Brevomat\brevomat-virtual.exe' >"$demo.log" 2>&1 &
pid=$!
# (Times are generous: every Wine start takes seconds under software emulation.)
deadline=$(($(date +%s) + 300))
until timeout 60 wine "$closer" "$title" 2>>"$demo.log"; do
  kill -0 $pid 2>/dev/null || { wait $pid; status=$?; cat "$demo.log"; fail "brevomat-virtual.exe ended with status $status before its window appeared"; }
  [ "$(date +%s)" -lt "$deadline" ] || {
    ps ax | grep -i '\.exe' | grep -v grep
    kill -9 $pid
    cat "$demo.log"
    fail "the window \"$title\" did not appear within 300 s"
  }
  sleep 2
done
deadline=$(($(date +%s) + 120))
while kill -0 $pid 2>/dev/null; do
  [ "$(date +%s)" -lt "$deadline" ] || { kill -9 $pid; cat "$demo.log"; fail "brevomat-virtual.exe did not end within 120 s of being asked to close; ended from outside"; }
  sleep 0.2
done
wait $pid
status=$?
[ $status -eq 0 ] || { cat "$demo.log"; fail "brevomat-virtual.exe ended with status $status"; }
[ -f virtual-cart/cart.conf ] || fail "the installed demo made no virtual-cart/cart.conf"
[ -f config.sav ] || fail "the installed demo wrote no config.sav"
echo "the installed 32-bit brevomat-virtual.exe showed its window and closed"
EOF
$sudo chmod +x "$rootfs/brevomat-init" "$rootfs/brevomat-install-check"

echo "=== the 32-bit suite in a virtual machine (software emulation) ==="
image=$vm/root.img
out=$vm/out
rm -rf "$out" "$image"
mkdir -p "$out"
$sudo mkfs.ext4 -q -F -d "$rootfs" "$image" 4G || {
  echo "the virtual machine's disk could not be made"
  exit 3
}
kernel=$(ls "$rootfs"/boot/vmlinuz-* | sort -V | tail -n 1)
initrd=$(ls "$rootfs"/boot/initrd.img-* | sort -V | tail -n 1)
started=$(date +%s)
status=0
accel=(-accel tcg,thread=multi)
if [ -w /dev/kvm ]; then accel=(-accel kvm "${accel[@]}"); fi
timeout -k 30 "$limit_run" qemu-system-x86_64 "${accel[@]}" -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt \
  -smp "$(nproc)" -m 4G -nographic -no-reboot \
  -kernel "$kernel" -initrd "$initrd" -append "root=/dev/vda rw console=ttyS0 init=/brevomat-init quiet" \
  -drive "file=$image,format=raw,if=virtio" \
  -virtfs "local,path=$root,mount_tag=repo,security_model=none,readonly=on,id=repo" \
  -virtfs "local,path=$out,mount_tag=out,security_model=none,id=out" >"$vm/console.log" 2>&1 || status=$?
rm -f "$image"
cat "$out/run.log" 2>/dev/null || true
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
  echo "the virtual machine did not end within $limit_run s; its console said:"
  tail -n 30 "$vm/console.log"
  exit 1
fi
if [ ! -f "$out/status" ]; then
  echo "the virtual machine ended (status $status) before the suite did; its console said:"
  tail -n 30 "$vm/console.log"
  exit 3
fi
if [ -s "$out/wine-restarts.log" ]; then
  echo "Wine ended before these programs had said anything, and each was started once more:"
  cat "$out/wine-restarts.log"
fi
echo "(the 32-bit suite in the virtual machine: $(($(date +%s) - started)) s)"
[ "$(cat "$out/status")" = 0 ] || exit 1
if [ -n "$installer" ] && [ "$(cat "$out/install-status" 2>/dev/null)" != 0 ]; then
  echo "the 32-bit installer or the installed programs failed in the virtual machine"
  exit 1
fi
