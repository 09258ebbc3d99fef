#!/bin/bash
# PID 1 of the 32-bit test machine (machine32.sh): mounts what the checks
# need, runs them from the second disk, ends the serial console's report
# with a verdict line and powers the machine off. Should it stop short of
# that, the kernel panics and qemu, told not to reboot, ends.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH

# The initrd hands over some of these already mounted.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mountpoint -q /run || mount -t tmpfs -o mode=0755 tmpfs /run
# Made by udev, which the guest does not run, and by some initrds.
[[ -e /dev/fd ]] || ln -s /proc/self/fd /dev/fd
mount -t tmpfs -o mode=1777 tmpfs /tmp
# The console carries our report: the kernel's messages stay in its log.
dmesg --console-level emerg

echo "machine32 guest: $(uname -srm)"
readonly disk=/run/machine32
status=0
mkdir -p "$disk"
if mount -t ext4 -o ro /dev/vdb "$disk"; then
    bash "$disk/machine32_checks.sh" "$disk" || status=$?
    umount "$disk"
else
    echo "FAIL: the second disk, with the packages and the checks, mounts"
    status=1
fi
if ((status == 0)); then
    echo "VERDICT: PASS"
else
    echo "VERDICT: FAIL"
fi
sync
echo o >/proc/sysrq-trigger
sleep 30
