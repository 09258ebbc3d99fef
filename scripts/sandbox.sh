# shellcheck shell=bash
# A throwaway ZVK inside this machine, shared by the demo and the end-to-end
# tests. Source it, call sandbox_enter "$@" first thing, then sandbox_setup.
#
# The calling script is run again, as root, in a private mount namespace in
# which /etc, /usr, /opt, /run and /var are overlays on a tmpfs: vidselect can be
# installed set-user-ID root, accounts and roles added and the configurator
# replaced, and all of it vanishes with the namespace. Nothing on the host
# changes but an empty directory under $TMPDIR, removed on the way out.

readonly sandbox_skip_status=77 # CTest's SKIP_RETURN_CODE for the e2e tests
sandbox_scripts=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
# Where a configurator finds driver modules and writes the X server's
# configuration, as the X server itself reads them.
readonly sandbox_drivers=/usr/lib/xorg/modules/drivers
readonly sandbox_x_config_dir=/etc/X11/xorg.conf.d

sandbox_inside() {
    [[ -n ${VIDSELECT_SANDBOX_HOST_NS:-} && $(readlink /proc/self/ns/mnt) != "$VIDSELECT_SANDBOX_HOST_NS" ]]
}

# sandbox_check_possible: exits with $sandbox_skip_status, saying why,
# where no sandbox can be made: without root, or where no private mount
# namespace may be made (a container without CAP_SYS_ADMIN, a chroot whose
# root is no mount point).
sandbox_check_possible() {
    local script
    script=$(readlink -f "$0")
    if [[ $EUID -ne 0 ]]; then
        echo "SKIP: ${script##*/} needs root: it installs vidselect set-user-ID root in a private mount namespace"
        exit $sandbox_skip_status
    fi
    if ! unshare --mount --propagation private true 2>/dev/null; then
        echo "SKIP: ${script##*/} needs a private mount namespace, and none can be made here"
        exit $sandbox_skip_status
    fi
}

# Runs the calling script again inside the sandbox and exits with its
# status; returns at once when already inside. Exits with
# $sandbox_skip_status, saying why, where no sandbox can be made.
sandbox_enter() {
    sandbox_inside && return 0
    sandbox_check_possible
    local script
    script=$(readlink -f "$0")
    local storage status=0
    storage=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-sandbox.XXXXXX")
    # Stopped from outside, the namespace goes with its processes; only
    # the empty mount point is ours to remove.
    trap 'rmdir "$storage"; exit 143' TERM
    trap 'rmdir "$storage"; exit 130' INT
    VIDSELECT_SANDBOX_HOST_NS=$(readlink /proc/self/ns/mnt) VIDSELECT_SANDBOX_STORAGE=$storage \
        unshare --mount --propagation private -- bash "$script" "$@" || status=$?
    rmdir "$storage"
    exit $status
}

# Lays the overlays and a minimal account database: root only, looked up in
# files alone whatever the host's name service says. /run and /var are
# private too, for the configurator's lock and for a package database a
# test may change. Every input a test compares against starts empty, whatever
# the host has installed: the roles file, the X server's driver modules and
# its configuration. The host's own driver modules stay readable, for
# sandbox_offer_drivers.
sandbox_setup() {
    local storage=$VIDSELECT_SANDBOX_STORAGE dir
    # Not nosuid, so that a set-user-ID binary installed here works.
    mount -t tmpfs -o mode=0755 vidselect-sandbox "$storage"
    sandbox_host_drivers=$storage/host-drivers
    mkdir -p "$sandbox_host_drivers"
    if [[ -d $sandbox_drivers ]]; then
        mount --bind "$sandbox_drivers" "$sandbox_host_drivers"
        mount -o remount,bind,ro "$sandbox_host_drivers"
    fi
    for dir in /etc /usr /opt /run /var; do
        mkdir -p "$storage/upper$dir" "$storage/work$dir"
        mount -t overlay vidselect-sandbox \
            -o "lowerdir=$dir,upperdir=$storage/upper$dir,workdir=$storage/work$dir" "$dir"
    done
    mkdir -p "$storage/scratch"
    chmod 1777 "$storage/scratch"
    # shellcheck disable=SC2034 # for the scripts that source this file
    sandbox_scratch=$storage/scratch

    printf 'passwd: files\ngroup: files\nshadow: files\n' >/etc/nsswitch.conf
    printf 'root:x:0:0:root:/root:/bin/bash\n' >/etc/passwd
    printf 'root:x:0:\n' >/etc/group
    mkdir -p /etc/vorn
    : >/etc/vorn/roles
    rm -rf "$sandbox_drivers" "$sandbox_x_config_dir" /etc/X11/xorg.conf
    mkdir -p "$sandbox_drivers" "$sandbox_x_config_dir"
}

# sandbox_offer_drivers NAME...: the host's real X server driver modules
# for these drivers, from their Debian packages, in the sandbox's module
# directory. Fails, saying which, when one is not installed on the host.
sandbox_offer_drivers() {
    local driver
    for driver in "$@"; do
        if ! cp "$sandbox_host_drivers/${driver}_drv.so" "$sandbox_drivers/"; then
            echo "sandbox: the host has no X server driver module for $driver" >&2
            return 1
        fi
    done
}

# sandbox_install BUILD_DIR: vidselect from a build tree, installed as a
# package would, set-user-ID root in /usr/local/bin. The role library and
# the configurator it runs are the caller's to install.
sandbox_install() {
    cmake --install "$1" --prefix /usr/local --component vidselect >/dev/null
}

# sandbox_add_account NAME UID [ROLE]: an account with a group of its own,
# and its role in the role library's file.
sandbox_add_account() {
    local name=$1 uid=$2 role=${3:-}
    echo "$name:x:$uid:$uid::/nonexistent:/usr/sbin/nologin" >>/etc/passwd
    echo "$name:x:$uid:" >>/etc/group
    echo "$name:*:19000:0:99999:7:::" >>/etc/shadow
    if [[ -n $role ]]; then
        echo "$name:$role" >>/etc/vorn/roles
    fi
}

# sandbox_as WHO COMMAND...: runs COMMAND with the real and effective ids
# of WHO, an account name or "#UID" for a user id with no account, and no
# supplementary groups (or those in $sandbox_groups, comma-separated).
sandbox_as() {
    local who=$1 uid gid
    shift
    if [[ $who == '#'* ]]; then
        uid=${who#\#}
        gid=$uid
    else
        uid=$(id -u "$who") && gid=$(id -g "$who") || return
    fi
    local groups=(--clear-groups)
    if [[ -n ${sandbox_groups:-} ]]; then
        groups=(--groups "$sandbox_groups")
    fi
    setpriv --reuid "$uid" --regid "$gid" "${groups[@]}" -- "$@"
}

# sandbox_build WHAT SOURCE_DIR PRESET LOG: configures and builds PRESET of
# the project in SOURCE_DIR, its output in ${TMPDIR:-/tmp}/LOG, so that
# what the caller shows is what the reader sees; a failure shows the log's
# tail, and exits.
sandbox_build() {
    local log=${TMPDIR:-/tmp}/$4
    echo "Building $1 (log: $log)"
    if ! (cd "$2" && cmake --preset "$3" && cmake --build --preset "$3" --parallel "$(nproc)") >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        echo "sandbox: building failed; the whole log is in $log" >&2
        exit 1
    fi
}

# For the scripts that show or time the tool rather than test a given
# build. sandbox_build_tool, outside the sandbox: says first whether a
# sandbox can be made here at all, then installs what is missing and
# builds the tool preset (the tool without its tests) in
# $sandbox_tool_build. sandbox_start_with_tool_build, first thing with
# "$@": does that outside the sandbox, then enters it, lays it out and
# installs that build.
readonly sandbox_tool_build=$sandbox_scripts/../build/tool
sandbox_build_tool() {
    sandbox_check_possible
    "$sandbox_scripts/install-deps.sh" demo || exit
    sandbox_build vidselect "$sandbox_scripts/.." tool vidselect-build.log
}

sandbox_start_with_tool_build() {
    sandbox_inside || sandbox_build_tool
    sandbox_enter "$@"
    sandbox_setup
    sandbox_install "$sandbox_tool_build"
}
