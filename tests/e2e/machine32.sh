# shellcheck shell=bash
# The i386 packages on a whole 32-bit Debian 12 machine. The other tests of
# this build run 32-bit code under a 64-bit kernel; a 32-bit kernel differs
# in its system calls, personality, directory offsets and uname. So a guest
# booted by qemu-system-i386 with Debian's own 32-bit kernel installs both
# packages with its own dpkg, runs vidselect as the service account and as
# another account, restarts its real X server with the driver chosen, and
# purges the packages (machine32_checks.sh).
#
# The guest's root (debootstrap, then its kernel and X server installed
# with its own apt) is made once into an ext4 image, kept in CACHE_DIR with
# the kernel and initrd to boot it. Each run boots that image as a snapshot,
# so the kept image never changes, with a second small disk made afresh
# holding the packages and the checks. Our init (machine32_init.sh) runs as
# PID 1, reports on the serial console and powers the guest off; the
# verdict is read from the console, and a guest that gives none within the
# time limit fails.
#
# Where it cannot run (not root, no qemu-system-i386, and for a first run
# no Debian mirror) it is skipped, saying why, except in CI, where it fails
# instead.
#
# usage: bash machine32.sh PACKAGE_DIR CACHE_DIR
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=SCRIPTDIR/debian_root.sh
source "$here/debian_root.sh"
# The kernel and what the checks run; the rest of what they need (dpkg,
# runuser, useradd, getconf, unshare) is in every Debian root.
readonly guest_packages=(linux-image-686 xserver-xorg-core xserver-xorg-video-dummy x11-utils)
readonly guest_init=/usr/local/sbin/machine32-init
# Boot to power-off takes well under a minute under TCG on an idle machine;
# the rest is room for a busy one.
readonly boot_limit=420

if [[ $EUID -ne 0 ]]; then
    cannot_run "${0##*/} needs root: it builds a Debian root and changes into it"
fi
for program in qemu-system-i386 debootstrap mkfs.ext4; do
    if ! command -v "$program" >/dev/null; then
        cannot_run "${0##*/} needs $program (scripts/install-deps.sh installs it)"
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-machine32.XXXXXX")
# Beside the image, not in it: a failed build leaves no image, only this.
log=$cache_dir.log
building=
qemu=
cleanup() {
    if [[ -n $qemu ]]; then kill "$qemu" 2>/dev/null; fi
    if [[ -n $building ]]; then rm -rf --one-file-system "$building"; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# in_user_namespace COMMAND...: COMMAND in user, mount and process
# namespaces of its own, the user namespace mapping every id to itself.
# There it may mount a binfmt_misc of its own, which the host's never sees,
# and nothing it mounts outlives it.
in_user_namespace() {
    # shellcheck disable=SC2016 # expanded by that bash
    unshare --user --mount --pid --fork --propagation private -- \
        bash -c 'until [[ -n $(</proc/self/uid_map) ]]; do sleep 0.1; done; exec "$@"' - "$@" &
    local namespace=$! host
    host=$(readlink /proc/self/ns/user)
    while kill -0 "$namespace" 2>/dev/null && [[ $(readlink "/proc/$namespace/ns/user") == "$host" ]]; do
        sleep 0.1
    done
    # Written from outside: only the host's root may map more than one id.
    if ! { echo "0 0 4294967295" >"/proc/$namespace/uid_map" &&
        echo "0 0 4294967295" >"/proc/$namespace/gid_map"; }; then
        kill "$namespace"
    fi
    wait "$namespace"
}

# finish_root ROOT INIT GUEST_INIT EMULATED PACKAGE...: the second stage of
# debootstrap, then the packages from the root's own apt, with a plain
# chroot. Run by in_user_namespace.
finish_root() {
    local root=$1 init=$2 guest_init=$3 emulated=$4
    shift 4
    if $emulated; then
        # This namespace's binfmt_misc hands 32-bit code to the emulator,
        # opened now (F) so that it runs in the chroot too.
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return
        printf '%s\n' ':machine32-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            >/proc/sys/fs/binfmt_misc/register || return
    fi
    mount -t proc proc "$root/proc" || return
    mount --rbind /sys "$root/sys" || return
    # Its check that the root can hold device nodes, which no user
    # namespace may make, is one it leaves out in a container too; the
    # first stage made them.
    chroot "$root" env container=lxc /debootstrap/debootstrap --second-stage || return
    # No service starts in the chroot: the guest has no service manager.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 0755 "$root/usr/sbin/policy-rc.d"
    # A root that is thrown away if the build stops needs no fsync.
    echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/machine32"
    # The initrd holds only what mounts the root disk: quicker to make
    # (emulated, every module costs) and to boot.
    mkdir -p "$root/etc/initramfs-tools/conf.d" "$root/usr/share/initramfs-tools/modules.d"
    echo MODULES=list >"$root/etc/initramfs-tools/conf.d/machine32"
    printf '%s\n' virtio_pci virtio_blk crc32c_generic ext4 >"$root/usr/share/initramfs-tools/modules.d/machine32"
    chroot "$root" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "$@" || return
    chroot "$root" apt-get clean
    rm -rf "$root"/var/lib/apt/lists/* "$root/usr/sbin/policy-rc.d" "$root/etc/dpkg/dpkg.cfg.d/machine32"
    install -m 0755 "$init" "$root$guest_init"
}

# What the kept image is made from: when this changes, so does the image.
recipe=$({
    printf '%s\n' "$distribution" "${guest_packages[@]}" "$guest_init"
    declare -f finish_root
    cat "$here/machine32_init.sh"
} | sha256sum)

# build_image DIR: the kernel, the initrd and the root's disk image in DIR.
build_image() {
    local dir=$1 root=$1/root
    echo "machine32: making the Debian $distribution i386 guest with debootstrap, kept in $cache_dir (log: $log)"
    : >"$log"
    # The first stage only unpacks, and makes the root's device nodes,
    # which only the host's root may.
    if ! unshare --mount --propagation private \
        debootstrap --foreign --arch=i386 --variant=minbase "$distribution" "$root" "$mirror" >>"$log" 2>&1; then
        tail -n 20 "$log"
        echo "FAIL: debootstrap's first stage; the whole log is $log"
        return 1
    fi
    # Where the kernel runs no 32-bit code of its own (some virtual
    # machines' kernels), the chroot runs it emulated.
    local emulated=false
    if ! chroot "$root" /bin/true 2>/dev/null; then
        emulated=true
        if ! command -v qemu-i386-static >/dev/null; then
            cannot_run "this kernel runs no 32-bit code, and ${0##*/} needs qemu-i386-static to make its guest (scripts/install-deps.sh installs it)"
        fi
        # The kernel makes no user namespace for a process in a chroot, and
        # before Linux 6.7 a user namespace may not mount a binfmt_misc of
        # its own; the host's is not ours to change.
        if ! unshare --user true 2>/dev/null; then
            cannot_run "this kernel runs no 32-bit code, and ${0##*/} makes its guest under qemu-i386-static in a user namespace of its own, which the kernel refuses here (as it does inside a chroot)"
        fi
        if ! in_user_namespace mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
            cannot_run "this kernel runs no 32-bit code, and ${0##*/} makes its guest under qemu-i386-static registered in a binfmt_misc of a user namespace of its own, which needs Linux 6.7 or later"
        fi
        echo "machine32: this kernel runs no 32-bit code: the guest's root is finished under qemu-i386-static"
    fi
    if ! in_user_namespace bash -c "$(declare -f finish_root)"' && finish_root "$@"' finish_root \
        "$root" "$here/machine32_init.sh" "$guest_init" "$emulated" "${guest_packages[@]}" >>"$log" 2>&1; then
        tail -n 20 "$log"
        echo "FAIL: finishing the guest's root; the whole log is $log"
        return 1
    fi
    local kernels=("$root"/boot/vmlinuz-*) initrds=("$root"/boot/initrd.img-*)
    if ((${#kernels[@]} != 1 || ${#initrds[@]} != 1)) || [[ ! -f ${kernels[0]} || ! -f ${initrds[0]} ]]; then
        echo "FAIL: the guest's root has no single kernel and initrd: ${kernels[*]} ${initrds[*]}"
        return 1
    fi
    cp "${kernels[0]}" "$dir/vmlinuz"
    cp "${initrds[0]}" "$dir/initrd.img"
    # Room for the packages and the X server's files, and inodes for a
    # root of many small files.
    local size files
    size=$(du -s -x --block-size=1M "$root" | cut -f1)
    files=$(find "$root" -xdev | wc -l)
    truncate -s "$((size * 5 / 4 + 256))M" "$dir/root.ext4"
    if ! mkfs.ext4 -q -F -L machine32 -N "$((files * 2 + 16384))" -d "$root" "$dir/root.ext4" >>"$log" 2>&1; then
        tail -n 20 "$log"
        echo "FAIL: making the guest's disk image; the whole log is $log"
        return 1
    fi
    rm -rf --one-file-system "$root"
    chmod 0444 "$dir/root.ext4"
    printf '%s\n' "$recipe" >"$dir/recipe"
}

if [[ ! -f $cache_dir/recipe || $(<"$cache_dir/recipe") != "$recipe" ]]; then
    if ! timeout 20 bash -c 'exec 3<>/dev/tcp/deb.debian.org/80' 2>/dev/null; then
        cannot_run "${0##*/} needs the Debian mirror $mirror to make its guest, and it cannot be reached"
    fi
    SECONDS=0
    # Made under a temporary name and moved into place whole, so a run
    # that stops half-way leaves nothing a later run would use.
    mkdir -p "${cache_dir%/*}"
    building=$(mktemp -d "$cache_dir.building.XXXXXX") || exit 1
    build_image "$building" || exit 1
    rm -rf --one-file-system "$cache_dir"
    mv "$building" "$cache_dir"
    building=
    echo "machine32: the guest's image was made in ${SECONDS}s"
fi

# The second disk: both packages, the checks, and the X server's start as
# the sandbox does it.
mkdir "$work/disk"
cp "${packages[@]}" "$here/machine32_checks.sh" "$here/../../scripts/xserver.sh" "$work/disk/"
truncate -s 32M "$work/disk.ext4"
if ! mkfs.ext4 -q -F -L machine32-tests -d "$work/disk" "$work/disk.ext4" >"$work/mkfs.log" 2>&1; then
    cat "$work/mkfs.log"
    echo "FAIL: making the guest's second disk"
    exit 1
fi

console=$work/console
qemu_errors=$work/qemu.errors
# boot ACCELERATOR: runs the guest to its end, or to the time limit.
boot() {
    : >"$console"
    # panic=1 and -no-reboot: should our init or the initrd fail, the
    # kernel's panic ends qemu rather than leave it waiting.
    timeout --kill-after=10 "$boot_limit" \
        qemu-system-i386 -accel "$1" -m 768 -smp 1 -no-user-config -nic none \
        -display none -monitor none -no-reboot \
        -kernel "$cache_dir/vmlinuz" -initrd "$cache_dir/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 quiet loglevel=3 panic=1 init=$guest_init" \
        -drive "file=$cache_dir/root.ext4,format=raw,if=virtio,snapshot=on" \
        -drive "file=$work/disk.ext4,format=raw,if=virtio,readonly=on" \
        -serial "file:$console" 2>"$qemu_errors" &
    qemu=$!
    # KVM stops a guest it cannot run, and qemu waits: end it at once.
    while kill -0 "$qemu" 2>/dev/null; do
        if grep -q 'KVM internal error' "$qemu_errors"; then
            kill "$qemu"
            break
        fi
        sleep 1
    done
    wait "$qemu"
    qemu=
}

verdict() {
    tr -d '\r' <"$console" | grep -E '^VERDICT: ' | tail -n 1
}

accelerator=tcg
if [[ -r /dev/kvm && -w /dev/kvm ]]; then
    accelerator=kvm
fi
SECONDS=0
boot "$accelerator"
if [[ $accelerator == kvm && -z $(verdict) ]]; then
    # A machine that is itself a virtual one may offer KVM and still fail
    # a 32-bit guest's early boot.
    echo "machine32: KVM did not run the guest ($(grep -m 1 -E 'KVM|kvm' "$qemu_errors")); booting it again under TCG"
    accelerator=tcg
    SECONDS=0
    boot "$accelerator"
fi
elapsed=$SECONDS
if [[ $accelerator == kvm ]]; then
    echo "machine32: the guest ran under KVM, boot to power-off in ${elapsed}s"
else
    echo "machine32: the guest ran under TCG (no KVM for it here), boot to power-off in ${elapsed}s"
fi

# The guest's own report, from our init's first line on.
report=$(tr -d '\r' <"$console" | sed -n '/^machine32 guest: /,$p')
printf '%s\n' "$report"
verdict=$(verdict)
passed=$(grep -c '^PASS: ' <<<"$report")
failed=$(grep -c '^FAIL: ' <<<"$report")
if [[ -z $verdict ]]; then
    echo "--- the end of the guest's console"
    tr -d '\r' <"$console" | tail -n 30
    if [[ -s $qemu_errors ]]; then
        echo "--- qemu"
        tail -n 10 "$qemu_errors"
    fi
    echo "FAIL: the guest gave no verdict within ${boot_limit}s"
    exit 1
fi
echo "${0##*/}: $passed checks passed in the guest, $failed failed"
[[ $verdict == "VERDICT: PASS" ]] && ((failed == 0 && passed > 0))
