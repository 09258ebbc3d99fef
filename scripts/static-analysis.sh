#!/bin/bash
# Static analysis of a project of the tree: shellcheck over every bash file
# of its sources, then clang-tidy with the tree's .clang-tidy and cppcheck
# over its C++ in the directories named, both from the compile commands of
# a native build of it. By default the project is the tool, and its C++ is
# src/; a project of its own inside it (a directory with presets of its
# own) is its own to analyse.
#
#   scripts/static-analysis.sh BUILD_DIR [SOURCE_DIR DIRECTORY...]
#
# Exits 0 when all are clean, 1 on any finding (printed), and 77, the status
# CTest counts as skipped, when a tool or BUILD_DIR/compile_commands.json is
# missing. The C and C++ of the tests, GoogleTest and the fuzzers are not
# analysed.
set -uo pipefail

readonly skipStatus=77

if (($# != 1 && $# < 3)); then
    echo "usage: $0 BUILD_DIR [SOURCE_DIR DIRECTORY...]" >&2
    exit 2
fi

root=$(cd "${2:-$(dirname "$(readlink -f "$0")")/..}" && pwd) || exit 2
analysed=(src)
if (($# > 1)); then
    analysed=("${@:3}")
fi
if ! buildDir=$(cd "$1" 2>/dev/null && pwd); then
    echo "SKIP: no build directory $1"
    exit "$skipStatus"
fi
compileCommands=$buildDir/compile_commands.json

clangTidy=${CLANG_TIDY:-clang-tidy}
cppcheck=${CPPCHECK:-cppcheck}
shellcheck=${SHELLCHECK:-shellcheck}
for tool in "$shellcheck" "$clangTidy" "$cppcheck"; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit "$skipStatus"
    fi
done
if [[ ! -f $compileCommands ]]; then
    echo "SKIP: $compileCommands is missing (configure with CMAKE_EXPORT_COMPILE_COMMANDS=ON)"
    exit "$skipStatus"
fi

cd "$root" || exit 1
mapfile -t sources < <(find "${analysed[@]}" -name '*.cpp' | LC_ALL=C sort)

workDir=$(mktemp -d)
trap 'rm -rf "$workDir"' EXIT

status=0

# Every shell file: those named *.sh or *.bash (the scripts, the suites, the
# libraries they source, the completion) and any other whose first line
# starts a shell (CI's entry point, the packages' maintainer scripts). Build
# trees hold nothing of ours, nor do nested projects.
mapfile -t nested < <(find . -mindepth 2 -name CMakePresets.json -not -path './build/*' -printf '%h\n')
prunedPaths=(-path ./build -o -path ./.git)
for dir in "${nested[@]}"; do
    prunedPaths+=(-o -path "$dir")
done
mapfile -t shellFiles < <(
    find . \( "${prunedPaths[@]}" \) -prune -o -type f \
        \( -name '*.sh' -o -name '*.bash' -o \
        -exec awk 'NR == 1 { shell = /^#!.*[\/ ](ba)?sh([ \t]|$)/; exit } END { exit !shell }' {} \; \) -print |
        sed 's|^\./||' | LC_ALL=C sort)
echo "shellcheck: ${#shellFiles[@]} files"
if ! "$shellcheck" --external-sources "${shellFiles[@]}" >"$workDir/shellcheck.log" 2>&1; then
    status=1
    echo "--- shellcheck"
    cat "$workDir/shellcheck.log"
fi

# The compile commands are g++'s. Warnings are g++'s business, so -Werror
# from a warnings-as-errors build must not turn clang's own opinions into
# findings, and clang must not stop at a g++-only warning option it does not
# know.
tidyArguments=(
    -p "$buildDir"
    --quiet
    --extra-arg=-Wno-unknown-warning-option
    --extra-arg=-Wno-unused-command-line-argument
    --extra-arg=-Wno-error
)

# Two at a time, each into its own file, printed in file order afterwards so
# that the report reads the same on every run.
echo "clang-tidy: ${#sources[@]} files"
export clangTidy workDir
# shellcheck disable=SC2016 # the inner script expands its own arguments
printf '%s\n' "${sources[@]}" |
    xargs -P 2 -I '{}' bash -c '
        log=$workDir/$(printf "%s" "$1" | tr / _).log
        if ! "$clangTidy" "${@:2}" "$1" >"$log" 2>&1; then
            echo failed >"$log.failed"
        fi
    ' _ '{}' "${tidyArguments[@]}"
for source in "${sources[@]}"; do
    log=$workDir/$(printf '%s' "$source" | tr / _).log
    if [[ -e $log.failed ]]; then
        status=1
        echo "--- clang-tidy $source"
        # Without the counts of warnings it hid in system headers.
        grep -v -E '^[0-9]+ warnings? (generated|treated as errors)\.$|^Suppressed [0-9]+ warnings' "$log"
    fi
done

# cppcheck's POSIX knowledge shows leaked descriptors and misused calls. It
# matches the filters against the paths as the compile commands name them,
# which CMake makes absolute.
# shellcheck disable=SC2054 # the commas belong to --enable's list
cppcheckArguments=(
    --project="$compileCommands"
    --std=c++20
    --library=posix
    --enable=warning,performance,portability
    --inline-suppr
    --error-exitcode=1
    --quiet
    # readdir_r, which cppcheck suggests instead, is deprecated by glibc;
    # readdir is safe as long as no two threads share a directory stream.
    --suppress=readdirCalled
)
for dir in "${analysed[@]}"; do
    cppcheckArguments+=(--file-filter="$root/$dir/*")
done
echo "cppcheck"
if ! "$cppcheck" "${cppcheckArguments[@]}" >"$workDir/cppcheck.log" 2>&1; then
    status=1
    echo "--- cppcheck"
    cat "$workDir/cppcheck.log"
fi

if ((status == 0)); then
    echo "static analysis: clean"
else
    echo "static analysis: findings above"
fi
exit "$status"
