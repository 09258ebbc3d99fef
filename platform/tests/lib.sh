# shellcheck shell=bash
# shellcheck disable=SC2034 # the suites that source this file use its variables
# Shared by the suites that run the tool with the stand-ins, which CTest
# runs as
#   bash SUITE.sh TOOL_BUILD_DIR BUILD_DIR [EMULATOR]
# They take the tool as their input: TOOL_BUILD_DIR is a build tree of it,
# and the end-to-end library of the sources it was built from lays out the
# sandbox, installs that build with its recorder, and gives the runs and
# the checks. install_with_standins puts the stand-ins of BUILD_DIR in the
# place of the recorder and the tool's test role library; EMULATOR runs
# their 32-bit configurator where the kernel does not.
tool_source=$(sed -n 's/^vidselect_SOURCE_DIR:STATIC=//p' "$1/CMakeCache.txt")
# shellcheck source=SCRIPTDIR/../../tests/e2e/lib.sh
source "$tool_source/tests/e2e/lib.sh"
# shellcheck source=SCRIPTDIR/../scripts/sandbox-standins.sh
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../scripts/sandbox-standins.sh"
standins_build=$2
standins_emulator=${3:-}

install_with_standins() {
    install_under_test
    sandbox_install_standins "$standins_build" "$standins_emulator"
}
