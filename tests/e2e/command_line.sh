# shellcheck shell=bash
# Misuse of the command line: the usage text on standard error, status 1,
# nothing run, even when valid options came first.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

expect_usage() { # DESCRIPTION [PARSER-DIAGNOSTIC]
    expect_status "$1: status" 1
    expect_stdout "$1: nothing on stdout" ""
    expect_stderr "$1: usage text" "${2:-}$usage_text"
    expect_runs "$1: nothing runs"
}

run tavik
expect_usage "no arguments"
run_launched tavik --no-arguments --
expect_usage "an empty argument vector"
run tavik --help
expect_usage "--help"
run tavik --he
expect_usage "an abbreviation of --help"
run tavik -l --help
expect_usage "--help after a valid option"
run tavik -l -x
expect_usage "an unrecognised option after a valid one" "$vidselect: invalid option -- 'x'"$'\n'
run tavik --frobnicate -q
expect_usage "an unrecognised long option" "$vidselect: unrecognized option '--frobnicate'"$'\n'
run tavik -q -m
expect_usage "-m without a value" "$vidselect: option requires an argument -- 'm'"$'\n'
run tavik --help=yes
expect_usage "--help with a value" "$vidselect: option '--help' doesn't allow an argument"$'\n'

run tavik stray words
expect_status "only non-option arguments: status" 0
expect_stdout "only non-option arguments: nothing printed" ""
expect_stderr "only non-option arguments: nothing on stderr" ""
expect_runs "only non-option arguments: nothing runs"

finish
