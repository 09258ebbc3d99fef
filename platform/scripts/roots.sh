# shellcheck shell=bash
# shellcheck disable=SC2034 # the scripts that source this file read its variables
# Whole Debian roots of a release and architecture of our choosing, made
# with debootstrap from Debian's mirror and kept in the cache, for the
# package build (scripts/package.sh) and the 32-bit test machines
# (tests/e2e/machine32.sh). Source it; its functions need root.
#
# Each root is kept under a name and the hash of its recipe (everything it
# is made from), so that a fresh clone finds what an earlier one made, a
# changed recipe makes a new root, and `rm -rf /var/cache/vidselect`
# clears them all.

readonly roots_mirror=http://deb.debian.org/debian
readonly roots_cache=/var/cache/vidselect
roots_building=    # made under this name, until it is moved into place
roots_unavailable= # why roots_make cannot make a root here (status 77)

roots_mirror_reachable() {
    timeout 20 bash -c 'exec 3<>/dev/tcp/deb.debian.org/80' 2>/dev/null
}

# roots_dir NAME RECIPE: where the cache keeps NAME made from RECIPE.
roots_dir() {
    printf '%s/%s-%s\n' "$roots_cache" "$1" "$(sha256sum <<<"$2" | cut -c 1-16)"
}

# roots_keep DIR COMMAND...: unless DIR is in the cache already, runs
# COMMAND... with a new directory as its last argument, and moves that into
# place as DIR when COMMAND succeeds. Made under a temporary name and moved
# whole, so a run that stops half-way leaves nothing a later one would use;
# one maker at a time, so two runs never make the same root twice.
# Returns COMMAND's status.
roots_keep() {
    local dir=$1 lock status=0
    shift
    mkdir -p "$roots_cache"
    exec {lock}>"$dir.lock"
    flock "$lock"
    if [[ ! -d $dir ]]; then
        roots_building=$(mktemp -d "$dir.building.XXXXXX") &&
            "$@" "$roots_building" &&
            mv "$roots_building" "$dir" || status=$?
        if [[ -n $roots_building && -d $roots_building ]]; then
            rm -rf --one-file-system "$roots_building"
        fi
        roots_building=
    fi
    exec {lock}>&-
    return $status
}

# roots_in_user_namespace COMMAND...: COMMAND in user, mount and process
# namespaces of its own, the user namespace mapping every id to itself.
# There it may mount a binfmt_misc of its own, which the host's never sees,
# and nothing it mounts outlives it.
roots_in_user_namespace() {
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

# roots_finish ROOT EMULATED SCRIPT: the second stage of debootstrap, then
# SCRIPT, run by bash as root in the root with its own apt, with a plain
# chroot. Runs in namespaces of its own, so nothing it mounts outlives it.
roots_finish() {
    local root=$1 emulated=$2 script=$3
    if $emulated; then
        # This namespace's binfmt_misc hands 32-bit code to the emulator,
        # opened now (F) so that it runs in the chroot too.
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return
        printf '%s\n' ':vidselect-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            >/proc/sys/fs/binfmt_misc/register || return
    fi
    mount -t proc proc "$root/proc" || return
    mount --rbind /sys "$root/sys" || return
    # Nothing of the caller's environment, whose paths are the host's.
    local in_root=(chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive)
    # Its check that the root can hold device nodes, which no user
    # namespace may make, is one it leaves out in a container too; the
    # first stage made them.
    "${in_root[@]}" container=lxc /debootstrap/debootstrap --second-stage || return
    # No service starts in the root, nor anything recommended but not needed.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 0755 "$root/usr/sbin/policy-rc.d"
    echo 'APT::Install-Recommends "false";' >"$root/etc/apt/apt.conf.d/50vidselect"
    # A root that is thrown away if the making stops needs no fsync.
    echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/vidselect"
    "${in_root[@]}" bash -euc "$script" || return
    "${in_root[@]}" apt-get clean
    rm -rf "$root"/var/lib/apt/lists/* "$root/usr/sbin/policy-rc.d" "$root/etc/dpkg/dpkg.cfg.d/vidselect"
}

# roots_make ROOT SUITE ARCH LOG SCRIPT: a minimal Debian SUITE for
# ARCH in ROOT, finished by roots_finish with SCRIPT; the tools' output goes
# to LOG. Returns 77, with the reason in roots_unavailable, where this
# machine cannot make it.
#
# Where the kernel runs the root's code, the root is finished in a mount
# namespace, which a chroot or container may make. Where it does not (an
# i386 root under a kernel without 32-bit support), it runs under
# qemu-i386-static, registered in a binfmt_misc of a user namespace of its
# own: that needs Linux 6.7 or later, and a process outside any chroot.
roots_make() {
    local root=$1 suite=$2 arch=$3 log=$4 script=$5 emulated=false
    # Inside a chroot, only where its root is a mount point.
    if ! unshare --mount --propagation private true 2>/dev/null; then
        roots_unavailable="the Debian $suite $arch root is made in a private mount namespace, and none can be made here"
        return 77
    fi
    # The first stage only unpacks, and makes the root's device nodes,
    # which only the host's root may.
    if ! unshare --mount --propagation private \
        debootstrap --foreign --arch="$arch" --variant=minbase "$suite" "$root" "$roots_mirror" >>"$log" 2>&1; then
        tail -n 20 "$log"
        echo "FAIL: debootstrap's first stage for Debian $suite $arch; the whole log is $log"
        return 1
    fi
    if ! chroot "$root" /bin/true 2>/dev/null; then
        emulated=true
        local cannot="this kernel runs no $arch code, and the Debian $suite $arch root is finished under qemu-i386-static"
        if [[ $arch != i386 ]]; then
            roots_unavailable="this kernel runs no $arch code"
            return 77
        elif ! command -v qemu-i386-static >/dev/null; then
            roots_unavailable="$cannot, which is not installed (scripts/install-deps.sh test installs it)"
            return 77
        elif ! unshare --user true 2>/dev/null; then
            # The kernel makes no user namespace for a process in a chroot.
            roots_unavailable="$cannot in a user namespace of its own, which the kernel refuses here (as it does inside a chroot)"
            return 77
        elif ! roots_in_user_namespace mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
            roots_unavailable="$cannot, registered in a binfmt_misc of a user namespace of its own, which needs Linux 6.7 or later"
            return 77
        fi
        echo "roots: this kernel runs no $arch code: the Debian $suite root is finished under qemu-i386-static"
    fi
    local finish=(bash -c "$(declare -f roots_finish)"' && roots_finish "$@"' roots_finish "$root" "$emulated" "$script")
    if $emulated; then
        roots_in_user_namespace "${finish[@]}" >>"$log" 2>&1
    else
        unshare --mount --pid --fork --propagation private -- "${finish[@]}" >>"$log" 2>&1
    fi || {
        tail -n 20 "$log"
        echo "FAIL: finishing the Debian $suite $arch root; the whole log is $log"
        return 1
    }
}

# roots_overlay ROOT TOP: a throwaway overlay of the kept ROOT at TOP/root,
# with /proc mounted in it, its changes on a tmpfs at TOP. For a mount
# namespace of its own, with which all of it goes, so that the kept root
# never changes.
roots_overlay() {
    local root=$1 top=$2
    mount -t tmpfs -o mode=0755 vidselect-root "$top" || return
    mkdir "$top/changes" "$top/work" "$top/root"
    mount -t overlay overlay -o "lowerdir=$root,upperdir=$top/changes,workdir=$top/work" "$top/root" || return
    mount -t proc proc "$top/root/proc"
}

# roots_recipe: what roots_make makes a root with, for a recipe.
roots_recipe() {
    declare -f roots_make roots_finish roots_in_user_namespace
    echo "$roots_mirror"
}
