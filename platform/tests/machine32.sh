# shellcheck shell=bash
# The i386 packages on a whole 32-bit Debian machine of RELEASE (bookworm,
# Debian 12, or bullseye, Debian 11). The other tests of this build run
# 32-bit code under a 64-bit kernel; a 32-bit kernel differs in its system
# calls, personality, directory offsets and uname, and an older release in
# its C library, dpkg and X server. So a guest booted by qemu-system-i386
# with the release's own 32-bit kernel runs the tool's installed-package
# tests (its debian/tests) with its own autopkgtest, which installs both
# packages with the guest's apt and dpkg; then it restarts its real X
# server with the driver chosen, and purges the packages
# (machine32_checks.sh).
#
# The guest's root (scripts/roots.sh: debootstrap, then its kernel,
# autopkgtest and X server installed with its own apt) is made once into
# an ext4 image, kept in the cache with the kernel and initrd to boot it.
# Each run boots that image as a snapshot, so the kept image never changes,
# with a second small disk made afresh holding the packages, the tool's
# source files and the checks. Our init (machine32_init.sh) runs as PID 1,
# reports on the serial console and powers the guest off; the verdict is
# read from the console, and a guest that gives none within the time limit
# fails.
#
# Where it cannot run (not root, no qemu-system-i386, and for a first run
# no Debian mirror, or no way to run the guest root's 32-bit code) it is
# skipped, saying why, except in CI, where it fails instead.
#
# usage: bash machine32.sh PACKAGE_DIR TOOL_SOURCE RELEASE
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=SCRIPTDIR/debian_root.sh
source "$here/debian_root.sh"
# shellcheck source=SCRIPTDIR/../scripts/sources.sh
source "$platform/scripts/sources.sh"
readonly release=$3
# The kernel; autopkgtest, with the dpkg-dev it unpacks a source tree
# with; and what the tests depend on besides the packages, which the
# guest, with no network, cannot fetch: the dummy driver, with the X
# server it is a driver of, and xdpyinfo for the restart. The rest of what
# the checks need (dpkg, runuser, useradd, getconf, unshare) is in every
# Debian root.
readonly guest_packages=(linux-image-686 autopkgtest dpkg-dev xserver-xorg-core xserver-xorg-video-dummy x11-utils)
readonly guest_init=/usr/local/sbin/machine32-init
# Boot to power-off takes a minute and a half under TCG on an idle machine,
# autopkgtest most of it; the rest is room for a busy one.
readonly boot_limit=600

require_root_and qemu-system-i386 debootstrap mkfs.ext4

work=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-machine32.XXXXXX")
qemu=
cleanup() {
    if [[ -n $qemu ]]; then kill "$qemu" 2>/dev/null; fi
    if [[ -n $roots_building ]]; then rm -rf --one-file-system "$roots_building"; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# build_image DIR: the kernel, the initrd and the root's disk image in DIR.
build_image() {
    local dir=$1 root=$1/root status=0
    echo "machine32: making the Debian $release i386 guest with debootstrap, kept in $cache_dir (log: $log)"
    : >"$log"
    mkdir "$root"
    # The initrd holds only what mounts the root disk: quicker to make
    # (emulated, every module costs) and to boot.
    roots_make "$root" "$release" i386 "$log" "
        mkdir -p /etc/initramfs-tools/conf.d /usr/share/initramfs-tools/modules.d
        echo MODULES=list >/etc/initramfs-tools/conf.d/machine32
        printf '%s\n' virtio_pci virtio_blk crc32c_generic ext4 >/usr/share/initramfs-tools/modules.d/machine32
        apt-get install -y -q ${guest_packages[*]}
        # With no network, apt knows only what autopkgtest publishes.
        : >/etc/apt/sources.list" || status=$?
    if ((status == 77)); then
        cannot_run "$roots_unavailable"
    elif ((status != 0)); then
        return 1
    fi
    install -m 0755 "$here/machine32_init.sh" "$root$guest_init"
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
}

# What the kept image is made from: when this changes, so does the image.
recipe=$({
    printf '%s\n' "$release" "${guest_packages[@]}" "$guest_init"
    declare -f build_image
    roots_recipe
    cat "$here/machine32_init.sh"
})
cache_dir=$(roots_dir "machine32-$release" "$recipe")
# Beside the image, not in it: a failed build leaves no image, only this.
log=$cache_dir.log

if [[ ! -d $cache_dir ]]; then
    if ! roots_mirror_reachable; then
        cannot_run "${0##*/} needs the Debian mirror $roots_mirror to make its guest, and it cannot be reached"
    fi
    SECONDS=0
    roots_keep "$cache_dir" build_image || exit 1
    echo "machine32: the guest's image was made in ${SECONDS}s"
fi

# The second disk: both packages, the tool's source files with its tests,
# the checks, and the X server's start as the sandbox does it.
mkdir -p "$work/disk/source"
cp "${packages[@]}" "$here/machine32_checks.sh" "$platform/scripts/xserver.sh" "$work/disk/"
copy_sources "$tool_source" "$work/disk/source"
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
    # Emptied here, before qemu starts: the loop below reads the errors at
    # once, and must never take the last boot's KVM error for this one's.
    : >"$console"
    : >"$qemu_errors"
    # panic=1 and -no-reboot: should our init or the initrd fail, the
    # kernel's panic ends qemu rather than leave it waiting.
    timeout --kill-after=10 "$boot_limit" \
        qemu-system-i386 -accel "$1" -m 768 -smp 1 -no-user-config -nic none \
        -display none -monitor none -no-reboot \
        -kernel "$cache_dir/vmlinuz" -initrd "$cache_dir/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 quiet loglevel=3 panic=1 init=$guest_init" \
        -drive "file=$cache_dir/root.ext4,format=raw,if=virtio,snapshot=on" \
        -drive "file=$work/disk.ext4,format=raw,if=virtio,readonly=on" \
        -serial "file:$console" 2>>"$qemu_errors" &
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
