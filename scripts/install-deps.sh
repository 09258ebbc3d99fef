#!/bin/bash
# Installs, from Debian 12's packages, whatever the build, the demo and the
# tests need and this machine lacks, and any further packages named on the
# command line. Needs root when something is missing. The package manager's
# own output goes to a log; one line says what is being installed and
# where that log is, and a failure shows the log's tail.
#
# The build dependencies are listed once, in debian/control's
# Build-Depends: apt-get build-dep installs them, with build-essential, for
# the native build and its tests and for the 32-bit build. The list below
# holds only what the cross build, the tests and the demo need besides.
#
# usage: scripts/install-deps.sh [PACKAGE...]
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
readonly cross_architecture=i386

packages=(
    # No source package can ask for these: Debian's cross toolchain and
    # the 32-bit C library, for the i386 preset. (The packages are built
    # with Debian 11's, in a root of their own: scripts/package.sh.)
    crossbuild-essential-i386 libc6-dev:i386
    # Where the kernel runs 32-bit code, the 32-bit tests run on it, and the
    # unit tests need the C++ library of the 32-bit system, not the cross one.
    libstdc++6:i386
    util-linux mount      # unshare, setpriv, mount: the sandbox
    qemu-user             # running the 32-bit tests
    qemu-system-x86 e2fsprogs  # the whole 32-bit machine (qemu-system-i386, mkfs.ext4 -d)
    qemu-user-static      # making its root where no 32-bit code runs natively
    devscripts            # hardening-check
    groff-base mandoc     # the man page checks
    lintian piuparts debootstrap adequate # Debian's own package checks
    clang-tidy cppcheck shellcheck  # static analysis
    clang libclang-rt-14-dev  # the fuzzers (libFuzzer)
    xserver-xorg-core xserver-xorg-video-dummy  # a real X server, headless
    xserver-xorg-video-fbdev xserver-xorg-video-vesa  # more real drivers
    x11-utils             # xdpyinfo, a client of that server
    bash-completion       # the completion test
    "$@"
)

# The native build with its tests needs every build dependency; the cross
# build, those of the host architecture too (none yet: cmake and googletest
# run on the build machine). dpkg-checkbuilddeps itself comes with them.
native_build_deps_missing=false
cross_build_deps_missing=false
if ! command -v dpkg-checkbuilddeps >/dev/null; then
    native_build_deps_missing=true
    cross_build_deps_missing=true
else
    # Side by side: each takes a good part of a second.
    dpkg-checkbuilddeps "$root/debian/control" 2>/dev/null &
    native_check=$!
    dpkg-checkbuilddeps -a "$cross_architecture" -P nocheck "$root/debian/control" 2>/dev/null ||
        cross_build_deps_missing=true
    wait "$native_check" || native_build_deps_missing=true
fi

# One query for them all, the usual case; only when it finds something
# amiss, one for each package, to name what is missing.
all_installed() { # PACKAGE...
    local statuses
    statuses=$(dpkg-query -W -f '${db:Status-Abbrev}|' "$@" 2>/dev/null) || return
    [[ -z ${statuses//ii |/} ]]
}
missing=()
if ! all_installed "${packages[@]}"; then
    for package in "${packages[@]}"; do
        if ! dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
fi
if ! $native_build_deps_missing && ! $cross_build_deps_missing && ((${#missing[@]} == 0)); then
    exit 0
fi

what=()
if $native_build_deps_missing || $cross_build_deps_missing; then
    what+=("debian/control's build dependencies${missing[*]:+ and}")
fi
what+=("${missing[@]}")
log=${TMPDIR:-/tmp}/vidselect-install-deps.log
echo "Installing ${what[*]} (log: $log)"
export DEBIAN_FRONTEND=noninteractive
apt_options=(-y -q --no-install-recommends)
# The 32-bit packages' C library comes from Debian's i386 archive.
if ! dpkg --print-foreign-architectures | grep -qx "$cross_architecture"; then
    dpkg --add-architecture "$cross_architecture"
fi
# A mirror caught mid-sync can fail one index of many (a security archive's
# i386 list, say); apt keeps the lists it did fetch, which may well hold
# everything needed. So a failed update only warns: a package truly
# missing still fails the install below.
if ! {
    { apt-get update -q || echo "install-deps: apt-get update failed; going on with the lists apt has"; } &&
        if $native_build_deps_missing; then
            apt-get build-dep "${apt_options[@]}" "$root"
        fi &&
        if $cross_build_deps_missing; then
            apt-get build-dep "${apt_options[@]}" -a "$cross_architecture" -P nocheck "$root"
        fi &&
        if ((${#missing[@]})); then
            apt-get install "${apt_options[@]}" "${missing[@]}"
        fi
} >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "install-deps: installing failed; the whole log is in $log" >&2
    exit 1
fi
