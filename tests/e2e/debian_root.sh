# shellcheck shell=bash
# shellcheck disable=SC2034 # the tests that source this file use its variables
# Shared by the tests that take the Debian packages into a whole Debian
# root of their own (piuparts.sh, machine32.sh), which CTest runs as
#   bash TEST.sh PACKAGE_DIR CACHE_DIR
# Sets package_dir, cache_dir, the mirror and distribution those roots come
# from, and packages: both packages, or the test fails when they are not in
# PACKAGE_DIR.
package_dir=$1
cache_dir=$2
readonly mirror=http://deb.debian.org/debian
readonly distribution=bookworm

# cannot_run REASON: the test is skipped, saying why, except in CI, which
# runs it and never skips it: there it fails.
cannot_run() {
    if [[ ${CI:-} == true ]]; then
        echo "FAIL: $1 (CI runs ${0##*/}, and never skips it)"
        exit 1
    fi
    echo "SKIP: $1"
    exit 77
}

packages=("$package_dir"/vidselect_*.deb "$package_dir"/vidselect-standins_*.deb)
for package in "${packages[@]}"; do
    if [[ ! -f $package ]]; then
        echo "FAIL: no packages in $package_dir; scripts/package.sh makes them"
        exit 1
    fi
done
