#!/bin/bash
# Runs one fuzz target for a fixed number of inputs, as the fuzz.* tests do:
#
#   run-fuzzer.sh FUZZER SEEDS RUNS [LIBFUZZER_OPTION...]
#
# libFuzzer adds what it finds to the first corpus directory it is given and
# writes failing inputs to its working directory. Both go to a directory of
# our own under $TMPDIR, so the seeds in the tree are only ever read. After a
# failure that directory stays, with the input that broke the property.
set -euo pipefail

if (($# < 3)); then
    echo "usage: $0 FUZZER SEEDS RUNS [LIBFUZZER_OPTION...]" >&2
    exit 2
fi
# libFuzzer runs inside the throwaway directory, so relative paths would miss.
fuzzer=$(readlink -f -- "$1")
seeds=$(readlink -f -- "$2")
runs=$3
shift 3

work=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-standins-fuzz.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
mkdir "$work/corpus" "$work/failures"

# A fixed seed makes a failure in CI one that reruns the same way.
status=0
(cd "$work" && "$fuzzer" -seed=1 -runs="$runs" -artifact_prefix="$work/failures/" \
    -print_final_stats=1 "$@" "$work/corpus" "$seeds") || status=$?

if ((status != 0)); then
    trap - EXIT
    echo "$(basename "$fuzzer") failed (exit status $status); the inputs are kept:" >&2
    for failure in "$work"/failures/*; do
        [[ -e $failure ]] && echo "  rerun with: $fuzzer $failure" >&2
    done
    exit 1
fi
