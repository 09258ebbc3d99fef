#!/bin/bash
# Builds the Debian packages vidselect and vidselect-standins, each from its
# own source package (the tool's debian/ in TOOL_SOURCE, the tree this
# project sits in unless given; this project's debian/), and their
# debug-symbol packages, for ARCH (amd64, or i386 for the ZVK with Debian's
# cross toolchain) into OUTPUT (build/packages/ARCH/ of this project unless
# given), then checks them with lintian, failing on any error or warning.
#
# The packages are built in a Debian 11 root, with its own compilers, C
# and C++ libraries and debhelper, so that they run on Debian 11 and every
# later release: what a binary needs of the C library is set by the one it
# was linked against. The root (scripts/roots.sh) is made once, with
# debian/control's build dependencies, and kept in the cache; each build
# runs on a throwaway overlay of it, in a mount namespace of its own, so
# the kept root never changes. The amd64 build runs the unit tests there
# too.
#
# dpkg-buildpackage writes next to the source tree it builds, so it builds
# a copy of the source files (all but what git ignores) under OUTPUT and
# everything it writes stays there. The build's own output goes to a log;
# one line says what is being built and where that log is, and a failure
# shows the log's tail.
#
# --no-lintian leaves the check out; --if-changed builds only when the
# sources or the build root differ from those of the packages already in
# OUTPUT; --lintian-only checks the packages already in OUTPUT and builds
# nothing (the tests use all three).
#
# usage: scripts/package.sh [--no-lintian | --lintian-only] [--if-changed] ARCH [OUTPUT [TOOL_SOURCE]]
set -euo pipefail

usage() {
    echo "usage: ${0##*/} [--no-lintian | --lintian-only] [--if-changed] amd64|i386 [OUTPUT [TOOL_SOURCE]]" >&2
    exit 2
}

run_lintian=true
lintian_only=false
if_changed=false
while [[ ${1:-} == --* ]]; do
    case $1 in
    --no-lintian) run_lintian=false ;;
    --lintian-only) lintian_only=true ;;
    --if-changed) if_changed=true ;;
    *) usage ;;
    esac
    shift
done
(($# >= 1 && $# <= 3)) || usage
arch=$1
case $arch in
amd64 | i386) ;;
*) usage ;;
esac
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
tool_root=$(cd "${3:-$root/..}" && pwd) || usage
# shellcheck source=SCRIPTDIR/roots.sh
source "$root/scripts/roots.sh"
# shellcheck source=SCRIPTDIR/sources.sh
source "$root/scripts/sources.sh"
output=$(mkdir -p "${2:-$root/build/packages/$arch}" && cd "${2:-$root/build/packages/$arch}" && pwd)
tool_copy=$output/vidselect
standins_copy=$output/vidselect-standins

# lintian's caution about running as root says nothing about the packages.
# It leaves temporary files behind (mldbm-elf-*), so it gets a directory of
# its own for them. Ends the script with lintian's verdict.
check_with_lintian() {
    local scratch status=0
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-lintian.XXXXXX")
    TMPDIR=$scratch lintian --fail-on error,warning "$output"/*.deb \
        2> >(grep -vx 'running with root privileges is not recommended!' >&2) || status=$?
    rm -rf "$scratch"
    exit $status
}
if $lintian_only; then
    $run_lintian || usage
    check_with_lintian
fi
log=$output/package.log

sources_stamp=$output/sources.sha256
rm -rf "$tool_copy" "$standins_copy"
mkdir "$tool_copy" "$standins_copy"

copy_sources "$tool_root" "$tool_copy"
copy_sources "$root" "$standins_copy"

# The build root: Debian 11 for this machine's architecture, with the
# build dependencies of the native build and its unit tests, and for the
# cross build the cross toolchain and the host architecture's own
# libc6-dev, from which dpkg-shlibdeps takes the C library dependency
# (without it, it would settle for a biarch one). No source package can ask
# for these two.
readonly build_release=bullseye cross_arch=i386
build_arch=$(dpkg --print-architecture)
build_depends() { # CONTROL
    awk '/^Build-Depends:/ { field = 1; print; next } field && /^[ \t]/ { print; next } { field = 0 }' "$1"
}
needs_script=
for control in "$tool_root/debian/control" "$root/debian/control"; do
    needs_script+="
    printf '%s\n' 'Source: needs' '$(build_depends "$control")' '' 'Package: needs' 'Architecture: any' >debian/control
    apt-get build-dep -y -q ./
    apt-get build-dep -y -q -a $cross_arch -P nocheck ./"
done
build_root_script="
    dpkg --add-architecture $cross_arch
    apt-get update -q
    mkdir -p /tmp/needs/debian
    cd /tmp/needs$needs_script
    apt-get install -y -q crossbuild-essential-$cross_arch libc6-dev:$cross_arch
    rm -r /tmp/needs"
build_root=$(roots_dir "build-$build_release-$build_arch" "$build_root_script$(roots_recipe)")
# make_build_root DIR: the build root in DIR.
make_build_root() {
    echo "Making the Debian $build_release build root, kept in $build_root (log: $build_root.log)"
    : >"$build_root.log"
    roots_make "$1" "$build_release" "$build_arch" "$build_root.log" "$build_root_script"
}

sources=$( (cd "$output" && find vidselect vidselect-standins -type f -print0 | sort -z | xargs -0 sha256sum) |
    cat - <(echo "$build_root") | sha256sum)
if $if_changed && [[ -f $sources_stamp && $(<"$sources_stamp") == "$sources" ]] &&
    compgen -G "$output/vidselect_*.deb" >/dev/null; then
    rm -rf "$tool_copy" "$standins_copy"
    echo "The $arch packages in $output are up to date"
    exit 0
fi

# What building needs, checked before anything of the last run goes.
# cannot SAYING: says what is missing, and stops.
cannot() {
    rm -rf "$tool_copy" "$standins_copy"
    echo "package: $1" >&2
    exit 1
}
if [[ $EUID -ne 0 ]]; then
    cannot "building the packages needs root: they are built in a Debian $build_release root of their own"
fi
for program in unshare chroot flock; do
    command -v "$program" >/dev/null || cannot "$program is not installed: apt-get install util-linux coreutils"
done
if [[ ! -d $build_root ]]; then
    if ! command -v debootstrap >/dev/null; then
        cannot "the Debian $build_release build root is made with debootstrap, which is not installed: apt-get install debootstrap"
    fi
    if ! roots_mirror_reachable; then
        cannot "the Debian $build_release build root is made from the Debian mirror $roots_mirror, which cannot be reached"
    fi
fi
if $run_lintian && ! command -v lintian >/dev/null; then
    cannot "the packages are checked with lintian, which is not installed: apt-get install lintian (or leave the check out with --no-lintian)"
fi
trap 'if [[ -n $roots_building ]]; then rm -rf --one-file-system "$roots_building"; fi' EXIT
status=0
roots_keep "$build_root" make_build_root || status=$?
if ((status == 77)); then
    cannot "$roots_unavailable"
elif ((status != 0)); then
    cannot "making the Debian $build_release build root failed"
fi

# What the last run left, so that only this run's packages are there.
rm -f "$output"/*.deb "$output"/*.changes "$output"/*.buildinfo "$log" "$sources_stamp"

# build_in_root ROOT OUTPUT SCRIPT: SCRIPT, by bash in ROOT, on an overlay
# of it whose changes go with this mount namespace, with OUTPUT at /build.
build_in_root() {
    local root=$1 output=$2 script=$3 top=$4
    roots_overlay "$root" "$top" || return
    mkdir -p "$top/root/build"
    mount --bind "$output" "$top/root/build" || return
    chroot "$top/root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 bash -euc "$script"
}

# Only what debian/rules says shapes the packages, whatever the caller's
# environment asks for. A cross build leaves the tests out: what it builds
# does not run here.
build_options="-b -us -uc"
test_option=
if [[ $arch != "$build_arch" ]]; then
    build_options+=" -a $arch --build-profiles=nocheck"
    test_option=" nocheck"
fi
echo "Building the $arch packages in Debian $build_release into $output (log: $log)"
top=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-package.XXXXXX")
if ! unshare --mount --pid --fork --propagation private -- \
    bash -c "$(declare -f roots_overlay build_in_root)"' && build_in_root "$@"' build_in_root "$build_root" "$output" "
        export DEB_BUILD_OPTIONS='parallel=$(nproc)$test_option'
        cd /build/vidselect
        dpkg-buildpackage $build_options
        cd /build/vidselect-standins
        dpkg-buildpackage $build_options" "$top" \
    >"$log" 2>&1; then
    rmdir "$top"
    tail -n 40 "$log" >&2
    echo "package: building the $arch packages failed; the whole log is in $log" >&2
    exit 1
fi
rmdir "$top"
rm -rf "$tool_copy" "$standins_copy"
echo "$sources" >"$sources_stamp"

if $run_lintian; then
    check_with_lintian
fi
