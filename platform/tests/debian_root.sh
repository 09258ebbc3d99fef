# shellcheck shell=bash
# shellcheck disable=SC2034 # the tests that source this file use its variables
# Shared by the tests that take the Debian packages into a Debian root or
# machine of their own (autopkgtest.sh, piuparts.sh, machine32.sh), which
# CTest runs as
#   bash TEST.sh PACKAGE_DIR TOOL_SOURCE ...
# with the packages scripts/package.sh made and the tool's source tree.
# Gives them the checks of the tool's end-to-end library (testlib.sh), the
# Debian roots from Debian's mirror (scripts/roots.sh), and in $packages
# both packages, the tool's first: the test fails when either is missing.
platform=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
package_dir=$1
tool_source=$2
# shellcheck source=SCRIPTDIR/../../tests/e2e/testlib.sh
source "$tool_source/tests/e2e/testlib.sh"
# shellcheck source=SCRIPTDIR/../scripts/roots.sh
source "$platform/scripts/roots.sh"

# require_root_and PROGRAM...: the test cannot run without root, which it
# needs to make a Debian root and change into it, nor without each PROGRAM.
require_root_and() {
    if [[ $EUID -ne 0 ]]; then
        cannot_run "${0##*/} needs root: it makes a Debian root and changes into it"
    fi
    local program
    for program; do
        if ! command -v "$program" >/dev/null; then
            cannot_run "${0##*/} needs $program (scripts/install-deps.sh test installs it)"
        fi
    done
}

packages=("$package_dir"/vidselect_*.deb "$package_dir"/vidselect-standins_*.deb)
for package in "${packages[@]}"; do
    if [[ ! -f $package ]]; then
        echo "FAIL: no packages in $package_dir; scripts/package.sh makes them"
        exit 1
    fi
done
