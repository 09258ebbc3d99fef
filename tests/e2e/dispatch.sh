# shellcheck shell=bash
# What runs, in which order and with which arguments: change, then query,
# then list, each at most once, whatever the command line's order.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

run tavik -l
expect_runs "-l lists" l
expect_recorded "-l hands over the list code alone" l args "-o|l"
expect_stdout "the configurator's output reaches the caller untouched" "configurator: l"$'\n'
expect_status "-l succeeds" 0

run tavik -q
expect_recorded "-q hands over the query code alone" q args "-o|q"

run tavik -m vesa
expect_recorded "-m hands over the change code and the name" m args "-o|m|-d|vesa"
expect_stderr "a change adds nothing of its own" ""

run tavik -l -q -m vesa
expect_runs "change, query, list whatever the order asked" m q l
expect_stdout "outputs follow the order of the runs" $'configurator: m\nconfigurator: q\nconfigurator: l\n'

run tavik -q -m vesa
expect_runs "-q before -m: the change still runs first" m q

run tavik -m vesa -m fbdev
expect_runs "two -m: one change" m
expect_recorded "two -m: the later name wins" m args "-o|m|-d|fbdev"

run tavik -m -l
expect_runs "-m -l: -l is the name, nothing lists" m
expect_recorded "-m -l: changes to '-l'" m args "-o|m|-d|-l"

run tavik -l -l -q
expect_runs "-l twice and -q: each runs once" q l

run tavik -lq
expect_runs "grouped flags" q l
run tavik -mvesa
expect_recorded "a value attached to -m" m args "-o|m|-d|vesa"
run tavik before -l after -q extra
expect_runs "non-option arguments anywhere are ignored" q l
expect_recorded "list carries no further arguments" l args "-o|l"
expect_recorded "query carries no further arguments" q args "-o|q"

run tavik -m ""
expect_runs "an empty name runs the change" m
expect_recorded "an empty name: nothing after -d" m args "-o|m|-d"

longest=abcdefghijklmnopqrstuvwxyz01234
run tavik -m "$longest"
expect_recorded "a 31-character name is handed over whole" m args "-o|m|-d|$longest"
expect_status "a 31-character name is accepted" 0

finish
