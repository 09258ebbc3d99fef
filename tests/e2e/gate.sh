# shellcheck shell=bash
# The access gate: only the service account, and only while the role
# library gives it the service role. A denied caller sees one line on
# standard output and nothing runs, whatever the command line says.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

expect_denied() { # DESCRIPTION MESSAGE
    expect_status "$1: status" 1
    expect_stdout "$1: the denial line alone" "$2"
    expect_stderr "$1: nothing on stderr" ""
    expect_runs "$1: nothing runs"
}

run tavik -q
expect_status "service account with the service role" 0
expect_stdout "service account: only the configurator speaks" "configurator: q"$'\n'
expect_runs "service account: the query runs" q

run root -l
expect_denied "root" "$denied_privileges"
run alice -l
expect_denied "another account holding the service role" "$denied_privileges"
run tavikx -l
expect_denied "a login that begins with the service account's" "$denied_privileges"
run TAVIK -l
expect_denied "the service account's name in other case" "$denied_privileges"
run '#4242' -l
expect_denied "a user id with no account" "$denied_role"

for args in "" "--help" "-x" "-m"; do
    run alice $args
    expect_denied "denied with '$args'" "$denied_privileges"
done
run '#4242' --help
expect_denied "no account, --help" "$denied_role"

set_roles "alice:morle"
run tavik -l
expect_denied "service account with no role" "$denied_role"
run tavik
expect_denied "service account with no role and no arguments" "$denied_role"

for role in MORLE morlex morl " morle" "morle "; do
    set_roles "tavik:$role"
    run tavik -l
    expect_denied "service account with role '$role'" "$denied_privileges"
done

rm /etc/vorn/roles
run tavik -l
expect_denied "no roles file" "$denied_role"

finish
