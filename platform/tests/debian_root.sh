# shellcheck shell=bash
# shellcheck disable=SC2034 # the tests that source this file use its variables
# Shared by the tests that take the Debian packages into a whole Debian
# root of their own (piuparts.sh, machine32.sh), which CTest runs as
#   bash TEST.sh PACKAGE_DIR ...
# Sets package_dir and packages: both packages, or the test fails when they
# are not in PACKAGE_DIR. The roots come from Debian's mirror
# (scripts/roots.sh).
# shellcheck source=SCRIPTDIR/testlib.sh
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/testlib.sh"
# shellcheck source=SCRIPTDIR/../../scripts/roots.sh
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../../scripts/roots.sh"
package_dir=$1

find_packages "$package_dir"
