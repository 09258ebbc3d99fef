#!/bin/bash
# Installs what is missing, builds, and runs every test: the native build
# (unit, end-to-end, static analysis, man page, packages), the 32-bit one
# under qemu-i386, the sanitizer one, and the fuzzers. As root the
# end-to-end tests run too; without root they are reported as skipped.
# With CI=true warnings are errors.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."

scripts/install-deps.sh

configure_options=()
if [[ ${CI:-} == true ]]; then
    configure_options+=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
fi
# The native build last, so that the run ends with its summary.
for preset in fuzz asan i386 default; do
    echo "=== $preset"
    cmake --preset "$preset" "${configure_options[@]}"
    cmake --build --preset "$preset" --parallel "$(nproc)"
    ctest --preset "$preset" --parallel "$(nproc)"
done
