#!/bin/bash
# Builds the Debian packages vidselect and vidselect-standins, and their
# debug-symbol packages, for ARCH (amd64, or i386 for the ZVK with Debian's
# cross toolchain) into OUTPUT (build/packages/ARCH/ unless given), then
# checks them with lintian, failing on any error or warning.
#
# dpkg-buildpackage writes next to the source tree it builds, so it builds
# a copy of the source files (all but what git ignores) under OUTPUT and
# everything it writes stays there. The build's own output goes to a log;
# one line says what is being built and where that log is, and a failure
# shows the log's tail.
#
# --no-lintian leaves the check out; --if-changed builds only when the
# sources differ from those of the packages already in OUTPUT;
# --lintian-only checks the packages already in OUTPUT and builds nothing
# (the tests use all three).
#
# usage: scripts/package.sh [--no-lintian | --lintian-only] [--if-changed] ARCH [OUTPUT]
set -euo pipefail

usage() {
    echo "usage: ${0##*/} [--no-lintian | --lintian-only] [--if-changed] amd64|i386 [OUTPUT]" >&2
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
(($# == 1 || $# == 2)) || usage
arch=$1
case $arch in
amd64 | i386) ;;
*) usage ;;
esac
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
output=$(mkdir -p "${2:-$root/build/packages/$arch}" && cd "${2:-$root/build/packages/$arch}" && pwd)
source_copy=$output/vidselect

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
rm -rf "$source_copy"
mkdir "$source_copy"

# The source files as they are in the work tree; without git, the tree
# apart from builds and version control.
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files -z --cached --others --exclude-standard |
        tar -C "$root" --null -T - -cf - | tar -C "$source_copy" -xf -
else
    tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$source_copy" -xf -
fi

sources=$(cd "$source_copy" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum)
if $if_changed && [[ -f $sources_stamp && $(<"$sources_stamp") == "$sources" ]] &&
    compgen -G "$output/vidselect_*.deb" >/dev/null; then
    rm -rf "$source_copy"
    echo "The $arch packages in $output are up to date"
    exit 0
fi
# What building needs, before anything of the last run goes: debian/control's
# Build-Depends (the tests' googletest aside), and for a cross build Debian's
# cross toolchain and the host architecture's own libc6-dev, from which
# dpkg-shlibdeps takes the C library dependency (without it, it would
# settle for a biarch one). No source package can ask for these two.
build_options=(-b -us -uc --build-profiles=nocheck)
check_options=(-P nocheck)
install_command="apt-get update && apt-get build-dep ./"
if [[ $arch != "$(dpkg --print-architecture)" ]]; then
    build_options+=(-a "$arch")
    check_options+=(-a "$arch")
    cross_needs="crossbuild-essential-$arch libc6-dev:$arch"
    install_command="dpkg --add-architecture $arch && apt-get update && apt-get build-dep -a $arch ./ && apt-get install $cross_needs"
fi
build_deps_met=true
if ! command -v dpkg-checkbuilddeps >/dev/null; then
    echo "package: dpkg-checkbuilddeps (dpkg-dev) is not installed" >&2
    build_deps_met=false
elif ! dpkg-checkbuilddeps "${check_options[@]}" "$root/debian/control"; then
    build_deps_met=false
elif [[ -n ${cross_needs:-} ]] &&
    ! dpkg-checkbuilddeps -a "$arch" -d "crossbuild-essential-$arch:native, libc6-dev:$arch" "$root/debian/control"; then
    build_deps_met=false
fi
if ! $build_deps_met; then
    rm -rf "$source_copy"
    echo "package: to install what building the $arch packages needs, as root in $root: $install_command" >&2
    exit 1
fi
if $run_lintian && ! command -v lintian >/dev/null; then
    rm -rf "$source_copy"
    echo "package: the packages are checked with lintian, which is not installed: apt-get install lintian (or leave the check out with --no-lintian)" >&2
    exit 1
fi

# What the last run left, so that only this run's packages are there.
rm -f "$output"/*.deb "$output"/*.changes "$output"/*.buildinfo "$log" "$sources_stamp"

# Only what debian/rules says shapes the packages, whatever the caller's
# environment asks for.
export DEB_BUILD_OPTIONS=nocheck
echo "Building the $arch packages into $output (log: $log)"
if ! (cd "$source_copy" && dpkg-buildpackage "${build_options[@]}") >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "package: building the $arch packages failed; the whole log is in $log" >&2
    exit 1
fi
rm -rf "$source_copy"
echo "$sources" >"$sources_stamp"

if $run_lintian; then
    check_with_lintian
fi
