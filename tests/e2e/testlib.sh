# shellcheck shell=bash
# The checks every end-to-end suite shares, with no side effect: sourcing
# it only defines them. The sandbox's set-up is elsewhere (lib.sh, and
# scripts/sandbox.sh under it); the installed-package tests (debian/tests)
# take them too, wherever autopkgtest runs them.
#
# Each check counts itself in $passed or $failed and says FAIL, with what
# it found, when it fails; with testlib_announce_passes=true it says PASS
# too, as the installed-package tests do for their logs. A suite ends with
# finish.

passed=0
failed=0

# pass [DESCRIPTION]
pass() {
    passed=$((passed + 1))
    if [[ ${testlib_announce_passes:-} == true ]]; then
        printf 'PASS: %s\n' "$1"
    fi
}

# fail DESCRIPTION [DETAIL...]: each detail on a line of its own, indented.
fail() {
    failed=$((failed + 1))
    printf 'FAIL: %s\n' "$1"
    shift
    if (($#)); then
        printf '      %s\n' "$@"
    fi
}

# check DESCRIPTION COMMAND...: passes when COMMAND succeeds, and shows the
# end of what it printed when it fails.
check() {
    local description=$1 output
    shift
    if output=$("$@" 2>&1); then
        pass "$description"
    else
        mapfile -t output < <(printf '%s\n' "$output" | tail -n 20)
        fail "$description" "${output[@]}"
    fi
}

# is_equal ACTUAL EXPECTED: for check; says both when they differ.
is_equal() {
    [[ $1 == "$2" ]] && return
    printf 'was: %s\nexpected: %s\n' "$1" "$2"
    return 1
}

# quietly COMMAND...: COMMAND, its output shown only when it fails.
quietly() {
    local output
    output=$("$@" 2>&1) && return
    printf '%s\n' "$output" | tail -n 20
    return 1
}

# shown FILE: FILE's text for fail(), its lines under fail's own indent, each
# marked '|'. What would not show as itself is shown as `cat -vT` does (^I a
# tab, ^M a carriage return, M- a byte above 127), a line ending in a blank
# ends in '$', and a missing final newline is said.
shown() {
    local shown_lines=40 lines
    if [[ ! -s $1 ]]; then
        echo "(nothing)"
        return
    fi
    printf '%s\n' "$(LC_ALL=C cat -vT "$1" | head -n "$shown_lines" |
        sed -e 's/[[:blank:]]$/&$/' -e 's/^/|/' -e '1!s/^/      /')"
    lines=$(awk 'END { print NR }' "$1")
    if ((lines > shown_lines)); then
        echo "      ($((lines - shown_lines)) more lines)"
    fi
    if [[ $(tail -c 1 "$1" | od -An -tx1) != ' 0a' ]]; then
        echo "      (no newline at the end)"
    fi
}

# expect_same_file DESCRIPTION WHAT ACTUAL-FILE EXPECTED-FILE: the two are
# the same, byte for byte. A failure shows both, so that the reader sees
# what was meant without opening the suite.
expect_same_file() {
    if cmp -s "$3" "$4"; then
        pass "$1"
    else
        fail "$1" "$2 was:" "$(shown "$3")" "expected:" "$(shown "$4")"
    fi
}

# cannot_run REASON: the suite cannot run here. It is skipped, saying why,
# except in CI, which installs and starts all that every suite needs and
# never skips one: there it fails.
cannot_run() {
    if [[ ${CI:-} == true ]]; then
        echo "FAIL: $1 (CI runs ${0##*/}, and never skips it)"
        exit 1
    fi
    echo "SKIP: $1"
    exit 77
}

# finish: the suite's verdict, last thing in every suite.
finish() {
    echo "${0##*/}: $passed checks passed, $failed failed"
    ((failed == 0))
    exit
}
