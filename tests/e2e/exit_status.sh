# shellcheck shell=bash
# Status 0 means every requested operation ran and succeeded; any failure
# makes it 1, but never stops the operations after it.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

run tavik -m vesa -q -l
expect_status "all succeed" 0

behave m "exit 3"
run tavik -m vesa -q -l
expect_status "a failed change" 1
expect_runs "a failed change stops nothing" m q l
expect_stderr "the tool adds no message of its own" ""
behave m

behave q "signal 9"
run tavik -q -l
expect_status "a query killed by a signal" 1
expect_runs "a killed query stops nothing" q l
behave q

behave l "exit 1"
run tavik -l
expect_status "a failed listing" 1
behave l

rm "$configurator"
run tavik -l
expect_status "no configurator at all" 1
expect_stdout "no configurator: nothing on stdout" ""

finish
