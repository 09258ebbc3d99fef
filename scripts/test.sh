#!/bin/bash
# Installs what is missing, builds, and runs every test: the native build
# (unit, end-to-end, static analysis, man page, packages), the 32-bit one
# (run by the kernel, or under qemu-i386 where the kernel runs no 32-bit
# programs), the sanitizer one, and the fuzzers. As root the
# end-to-end tests run too; without root they are reported as skipped, and
# the reason each skipped test gave is printed after its preset's run.
# With CI=true warnings are errors.
#
# Every preset is configured, built and tested even when one before it
# fails, and the run ends with a line for each preset and then the totals:
#   all presets: N passed, N failed, N skipped
# counted in tests, where a preset that failed to configure, build or run
# its tests counts as one failed test more. The exit status is 1 when
# anything failed.
set -uo pipefail
cd "$(dirname "$(readlink -f "$0")")/.." || exit

scripts/install-deps.sh || exit

configure_options=()
if [[ ${CI:-} == true ]]; then
    configure_options+=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
fi

# The summary, a line per preset, and the totals across them.
summary=()
total_passed=0 total_failed=0 total_skipped=0

# read_junit FILE: from CTest's JUnit report, a line "NAME: REASON" for
# each "SKIP: ..." line a skipped test printed ("NAME: no reason given" when
# it printed none), then "counts PASSED FAILED SKIPPED". The report's own
# totals count a test that could not be started as skipped; here it fails.
read_junit() {
    awk '
        function text(line) {
            gsub(/&lt;/, "<", line); gsub(/&gt;/, ">", line)
            gsub(/&quot;/, "\"", line); gsub(/&apos;/, "\047", line); gsub(/&amp;/, "\\&", line)
            return line
        }
        function close_case() {
            if (name != "" && verdict == "skipped" && !reasons) printf "%s: no reason given\n", name
            counts[verdict]++
            name = ""
        }
        /<testcase / {
            close_case()
            name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name); name = text(name)
            verdict = "failed"; reasons = 0
            if ($0 ~ /status="run"/) verdict = "passed"
            if ($0 ~ /status="disabled"/) { verdict = "skipped"; printf "%s: disabled\n", name; reasons = 1 }
        }
        /<skipped message="SKIP_RETURN_CODE=/ { verdict = "skipped" }
        name != "" && verdict == "skipped" {
            line = $0
            sub(/.*<system-out>/, "", line)
            sub(/<\/system-out>.*/, "", line)
            if (line ~ /^SKIP: /) { printf "%s: %s\n", name, text(line); reasons++ }
        }
        END {
            close_case()
            printf "counts %d %d %d\n", counts["passed"], counts["failed"], counts["skipped"]
        }
    ' "$1"
}

# run_preset PRESET: configures, builds and tests PRESET, and adds its line
# to the summary.
run_preset() {
    local preset=$1 junit passed=0 failed=0 skipped=0 status=0
    echo "=== $preset"
    if ! cmake --preset "$preset" "${configure_options[@]}"; then
        summary+=("$(printf '%-8s FAILED  configuring failed' "$preset")")
        total_failed=$((total_failed + 1))
        return
    fi
    if ! cmake --build --preset "$preset" --parallel "$(nproc)"; then
        summary+=("$(printf '%-8s FAILED  building failed' "$preset")")
        total_failed=$((total_failed + 1))
        return
    fi
    junit=$PWD/build/$preset/Testing/junit.xml
    rm -f "$junit"
    ctest --preset "$preset" --parallel "$(nproc)" --output-junit "$junit" || status=$?
    if [[ ! -s $junit ]]; then
        summary+=("$(printf '%-8s FAILED  ctest ran no tests (exit status %d)' "$preset" "$status")")
        total_failed=$((total_failed + 1))
        return
    fi
    local line reasons=()
    while IFS= read -r line; do
        if [[ $line == counts\ * ]]; then
            read -r _ passed failed skipped <<<"$line"
        else
            reasons+=("  $line")
        fi
    done < <(read_junit "$junit")
    if ((${#reasons[@]})); then
        echo "Skipped, with the reasons they gave:"
        printf '%s\n' "${reasons[@]}"
    fi
    # ctest failing with no test failed: it gave up for a reason of its own.
    if ((status != 0 && failed == 0)); then
        failed=1
    fi
    local verdict=passed
    if ((failed > 0)); then
        verdict=FAILED
    fi
    summary+=("$(printf '%-8s %-7s %d passed, %d failed, %d skipped' \
        "$preset" "$verdict" "$passed" "$failed" "$skipped")")
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
}

# The native build last, so that its run is the nearest to the summary.
for preset in fuzz asan i386 default; do
    run_preset "$preset"
done

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "all presets: $total_passed passed, $total_failed failed, $total_skipped skipped"
((total_failed == 0))
