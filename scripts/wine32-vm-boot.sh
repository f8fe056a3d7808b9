#!/bin/sh
# The first process of the virtual machine of scripts/wine32-vm.sh, kept in its disk image as
# /brevomat-init: mounts what a run needs, the repository (read-only) and the run's folder
# (writable) over 9p, says it booted, runs that run's scripts/wine32-vm-guest.sh from the
# repository, and powers the machine off. A change here makes the image anew (its recipe includes
# this file).
PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin
export PATH
mount -t proc proc /proc
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
modprobe 9pnet_virtio
modprobe 9p
mkdir -p /mnt/repo /mnt/out
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,ro repo /mnt/repo
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 out /mnt/out
date +%s >/mnt/out/booted
sh /mnt/repo/scripts/wine32-vm-guest.sh /mnt/out >/mnt/out/run.log 2>&1
sync
echo o >/proc/sysrq-trigger
sleep 60
