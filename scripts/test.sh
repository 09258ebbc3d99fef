#!/bin/bash
# Installs what is missing, builds, and runs every test of both projects:
# the tool's (at the top) and then the stand-ins' (platform/, which takes
# the tool's build of the same preset as its input), for each preset: the
# native build (unit, end-to-end, static analysis, man pages; the
# packages, the real X server), the 32-bit one (run by the kernel, or under
# qemu-i386 where the kernel runs no 32-bit programs; the 32-bit machines),
# the sanitizer one, and the fuzzers. As root the end-to-end tests run too;
# without root they are reported as skipped. With CI=true warnings are
# errors. Named presets run alone, in the order given.
#
# usage: scripts/test.sh [fuzz|asan|i386|default]...
#
# It is as quiet as the demo: for each preset of each project one line says
# what is built and tested and where the log of its configure, build and
# test run is. Below it come the reason each skipped test gave and, for
# each failed test, its own output; a preset that fails to configure or
# build shows its log's tail. Both come from CTest's own report of the run
# (its JUnit file, beside the log). Every preset is configured, built and
# tested even when one before it fails, and the run ends with a line for
# each and then the totals:
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

# read_results REPORT: the verdicts and outputs of CTest's JUnit REPORT.
# Prints, indented, "NAME: REASON" for each "SKIP: ..." line a skipped test
# printed ("NAME: no reason given" when it printed none), then the first
# lines of each failed test's output, and last "counts PASSED FAILED
# SKIPPED". A test that could not be started, timed out or crashed counts
# as failed.
read_results() {
    awk -v shown="$shown_output_lines" -v report="$1" '
        function attribute(name, value) {
            if (!match($0, name "=\"[^\"]*\"")) return ""
            return unescape(substr($0, RSTART + length(name) + 2, RLENGTH - length(name) - 3))
        }
        function unescape(text) {
            gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text)
            gsub(/&apos;/, "\047", text); gsub(/&amp;/, "\\&", text)
            return text
        }
        /<testcase / { name = attribute("name"); status = attribute("status"); why = "failed"; lines = 0; next }
        /<failure / { why = attribute("message"); next }
        /<system-out>/ { reading = 1; sub(/.*<system-out>/, "") }
        reading {
            last = sub(/<\/system-out>.*/, "")
            if (!last || $0 != "") output[++lines] = unescape($0)
            if (last) reading = 0
            next
        }
        /<\/testcase>/ {
            if (status == "run") counts["passed"]++
            else if (status == "notrun" || status == "disabled") {
                counts["skipped"]++
                reasons = 0
                for (i = 1; i <= lines; i++)
                    if (output[i] ~ /^SKIP: /) { printf "  %s: %s\n", name, substr(output[i], 7); reasons++ }
                if (status == "disabled") printf "  %s: disabled\n", name
                else if (!reasons) printf "  %s: no reason given\n", name
            } else {
                counts["failed"]++
                printf "--- %s: %s; its output:\n", name, why
                if (!lines) print "  (none)"
                end = lines > shown ? shown : lines
                for (i = 1; i <= end; i++) printf "  %s\n", output[i]
                if (lines > end) printf "  (%d lines more: %s)\n", lines - end, report
            }
        }
        END { printf "counts %d %d %d\n", counts["passed"], counts["failed"], counts["skipped"] }
    ' "$1"
}

# preset_failed LABEL LOG WHAT: a preset that never reached its tests: the
# log's tail, and one failed test more.
preset_failed() {
    tail -n 20 "$2" | sed 's/^/  /'
    summary+=("$(printf '%-17s FAILED  %s; the whole log is %s' "$1" "$3" "$2")")
    total_failed=$((total_failed + 1))
}

# run_preset PROJECT LABEL PRESET WHAT: configures, builds and tests PRESET
# of the project in the directory PROJECT, and adds its line, under LABEL,
# to the summary.
run_preset() {
    local project=$1 label=$2 preset=$3 what=$4 passed=0 failed=0 skipped=0 status=0
    local build
    build=$(cd "$project" && pwd)/build/$preset
    local log=$build/test.log report=$build/Testing/report.xml
    mkdir -p "${log%/*}"
    echo "$label: configuring, building and testing $what (log: $log)"
    if ! (cd "$project" && cmake --preset "$preset" "${configure_options[@]}") >"$log" 2>&1; then
        preset_failed "$label" "$log" "configuring failed"
        return
    fi
    if ! (cd "$project" && cmake --build --preset "$preset" --parallel "$(nproc)") >>"$log" 2>&1; then
        preset_failed "$label" "$log" "building failed"
        return
    fi
    rm -f "$report"
    (cd "$project" && ctest --preset "$preset" --parallel "$(nproc)" --output-junit "$report") >>"$log" 2>&1 ||
        status=$?
    if ! grep -q '<testcase ' "$report" 2>/dev/null; then
        preset_failed "$label" "$log" "ctest ran no tests (exit status $status)"
        return
    fi
    local line
    while IFS= read -r line; do
        if [[ $line == counts\ * ]]; then
            read -r _ passed failed skipped <<<"$line"
        else
            printf '%s\n' "$line"
        fi
    done < <(read_results "$report")
    # ctest failing with no test failed: it gave up for a reason of its own.
    if ((status != 0 && failed == 0)); then
        preset_failed "$label" "$log" "ctest failed (exit status $status) with no test failed"
    fi
    local verdict=passed
    if ((failed > 0)); then
        verdict=FAILED
        echo "  (the whole log is $log)"
    fi
    summary+=("$(printf '%-17s %-7s %d passed, %d failed, %d skipped' \
        "$label" "$verdict" "$passed" "$failed" "$skipped")")
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
# The stand-ins' project takes the tool's build of the same preset (its
# presets' VIDSELECT_BUILD_DIR).
for preset in "${presets[@]}"; do
    run_preset . "$preset" "$preset" "${described[$preset]}"
    run_preset platform "platform/$preset" "$preset" "the stand-ins' ${described[$preset]#the }"
done

echo
printf '%s\n' "${summary[@]}"
echo "all presets: $total_passed passed, $total_failed failed, $total_skipped skipped"
((total_failed == 0))
