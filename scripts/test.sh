#!/bin/bash
# Installs what is missing, builds, and runs every test: the native build
# (unit, end-to-end, static analysis, man page, packages), the 32-bit one
# (run by the kernel, or under qemu-i386 where the kernel runs no 32-bit
# programs), the sanitizer one, and the fuzzers. As root the
# end-to-end tests run too; without root they are reported as skipped.
# With CI=true warnings are errors. Named presets run alone, in the order
# given.
#
# usage: scripts/test.sh [fuzz|asan|i386|default]...
#
# It is as quiet as the demo: for each preset one line says what is built
# and tested and where the log of its configure, build and test run is.
# Below it come the reason each skipped test gave and, for each failed
# test, its own output; a preset that fails to configure or build shows its
# log's tail. Every preset is configured, built and tested even when one
# before it fails, and the run ends with a line for each preset and then
# the totals:
#   all presets: N passed, N failed, N skipped
# counted in tests, where a preset that failed to configure, build or run
# its tests counts as one failed test more. The exit status is 1 when
# anything failed.
set -uo pipefail
cd "$(dirname "$(readlink -f "$0")")/.." || exit

scripts/install-deps.sh test || exit

configure_options=()
if [[ ${CI:-} == true ]]; then
    configure_options+=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
fi

# Of a failed test, the start of its output: its first failed checks, from
# which the rest usually follow.
readonly shown_output_lines=40

# The summary, a line per preset, and the totals across them.
summary=()
total_passed=0 total_failed=0 total_skipped=0

# read_results LOG LAST_TEST_LOG: the verdicts from CTest's lines in LOG,
# and each test's own output from CTest's log of the run. Prints, indented,
# "NAME: REASON" for each "SKIP: ..." line a skipped test printed ("NAME:
# no reason given" when it printed none), then the first lines of each
# failed test's output, and last "counts PASSED FAILED SKIPPED". A test
# that could not be started, timed out or crashed counts as failed.
read_results() {
    awk -v shown="$shown_output_lines" '
        FNR == NR {
            if (!match($0, /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: /)) next
            rest = substr($0, RLENGTH + 1)
            name = rest; sub(/ .*/, "", name)
            sub(/^[^ ]* [. ]*/, "", rest)
            why[name] = rest; sub(/^\*\*\*/, "", why[name]); sub(/ +[0-9.]+ sec$/, "", why[name])
            if (rest ~ /^Passed/) verdict[name] = "passed"
            else if (rest ~ /^\*\*\*(Skipped|Not Run \(Disabled\))/) verdict[name] = "skipped"
            else verdict[name] = "failed"
            order[++tests] = name
            counts[verdict[name]]++
            next
        }
        match($0, /^[0-9]+\/[0-9]+ Test: /) { name = substr($0, RLENGTH + 1); next }
        /^Output:$/ { getline; reading = 1; lines[name] = 0; next }
        /^<end of output>$/ { reading = 0; next }
        reading { output[name, ++lines[name]] = $0 }
        END {
            for (t = 1; t <= tests; t++) {
                name = order[t]
                if (verdict[name] == "skipped") {
                    reasons = 0
                    for (i = 1; i <= lines[name]; i++)
                        if (output[name, i] ~ /^SKIP: /) {
                            printf "  %s: %s\n", name, substr(output[name, i], 7); reasons++
                        }
                    if (why[name] ~ /Disabled/) printf "  %s: disabled\n", name
                    else if (!reasons) printf "  %s: no reason given\n", name
                } else if (verdict[name] == "failed") {
                    printf "--- %s: %s; its output:\n", name, why[name]
                    if (!lines[name]) print "  (none)"
                    last = lines[name] > shown ? shown : lines[name]
                    for (i = 1; i <= last; i++) printf "  %s\n", output[name, i]
                    if (lines[name] > last)
                        printf "  (%d lines more: %s)\n", lines[name] - last, FILENAME
                }
            }
            printf "counts %d %d %d\n", counts["passed"], counts["failed"], counts["skipped"]
        }
    ' "$1" "$2"
}

# preset_failed PRESET LOG WHAT: a preset that never reached its tests:
# the log's tail, and one failed test more.
preset_failed() {
    tail -n 20 "$2" | sed 's/^/  /'
    summary+=("$(printf '%-8s FAILED  %s; the whole log is %s' "$1" "$3" "$2")")
    total_failed=$((total_failed + 1))
}

# run_preset PRESET WHAT: configures, builds and tests PRESET, and adds its
# line to the summary.
run_preset() {
    local preset=$1 what=$2 passed=0 failed=0 skipped=0 status=0
    local log=$PWD/build/$preset/test.log
    mkdir -p "${log%/*}"
    echo "$preset: configuring, building and testing $what (log: $log)"
    if ! cmake --preset "$preset" "${configure_options[@]}" >"$log" 2>&1; then
        preset_failed "$preset" "$log" "configuring failed"
        return
    fi
    if ! cmake --build --preset "$preset" --parallel "$(nproc)" >>"$log" 2>&1; then
        preset_failed "$preset" "$log" "building failed"
        return
    fi
    local last_test_log=build/$preset/Testing/Temporary/LastTest.log
    rm -f "$last_test_log"
    ctest --preset "$preset" --parallel "$(nproc)" >>"$log" 2>&1 || status=$?
    if [[ ! -s $last_test_log ]]; then
        preset_failed "$preset" "$log" "ctest ran no tests (exit status $status)"
        return
    fi
    local line
    while IFS= read -r line; do
        if [[ $line == counts\ * ]]; then
            read -r _ passed failed skipped <<<"$line"
        else
            printf '%s\n' "$line"
        fi
    done < <(read_results "$log" "$last_test_log")
    # ctest failing with no test failed: it gave up for a reason of its own.
    if ((status != 0 && failed == 0)); then
        preset_failed "$preset" "$log" "ctest failed (exit status $status) with no test failed"
    fi
    local verdict=passed
    if ((failed > 0)); then
        verdict=FAILED
        echo "  (the whole log is $log)"
    fi
    summary+=("$(printf '%-8s %-7s %d passed, %d failed, %d skipped' \
        "$preset" "$verdict" "$passed" "$failed" "$skipped")")
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
}

# The native build last, so that its run is the nearest to the summary.
declare -A described=([fuzz]="the fuzzers" [asan]="the sanitizer build"
    [i386]="the 32-bit build" [default]="the native build")
presets=("$@")
if ((${#presets[@]} == 0)); then
    presets=(fuzz asan i386 default)
fi
for preset in "${presets[@]}"; do
    if [[ -z ${described[$preset]:-} ]]; then
        echo "usage: ${0##*/} [fuzz|asan|i386|default]..." >&2
        exit 2
    fi
done
for preset in "${presets[@]}"; do
    run_preset "$preset" "${described[$preset]}"
done

echo
printf '%s\n' "${summary[@]}"
echo "all presets: $total_passed passed, $total_failed failed, $total_skipped skipped"
((total_failed == 0))
