# shellcheck shell=bash
# Names that could harm a root shell, or that do not fit the command, are
# refused before anything runs, and are never echoed back.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

readonly too_long=$'vidselect: the driver name is longer than 31 characters\n'
readonly bad_character=$'vidselect: the driver name may hold only letters, digits, \'.\', \'_\' and \'-\'\n'

expect_refused() { # DESCRIPTION MESSAGE
    expect_status "$1: status" 1
    expect_stdout "$1: nothing on stdout" ""
    expect_stderr "$1: one line saying why" "$2"
    expect_runs "$1: nothing runs, not even the query or listing"
}

run tavik -q -m abcdefghijklmnopqrstuvwxyz012345 -l
expect_refused "a 32-character name" "$too_long"
run tavik -m "$(printf 'x%.0s' {1..500})"
expect_refused "a 500-character name" "$too_long"

canary=/opt/c
for name in "vesa;touch $canary" "\$(touch $canary)" "\`touch $canary\`" "vesa|tee $canary" \
    "vesa>$canary" "vesa&&id" "ve sa" $'ve\tsa' $'ve\nsa' "'vesa'" '"vesa"' 'v*' 've?a' '~root' \
    '../vesa' 'a=b' 'caf'$'\xc3\xa9'; do
    run tavik -q -m "$name" -l
    expect_refused "name $(printf '%q' "$name")" "$bad_character"
done
if [[ -e $canary ]]; then fail "a refused name reached a shell"; else pass; fi

run tavik -m $'\e]0;owned\a\e[2J'
expect_refused "terminal control sequences" "$bad_character"
if grep -q $'\e' "$err"; then fail "the name's bytes were echoed"; else pass; fi

finish
