#!/bin/bash
# Installs what is missing, builds, and runs every test. As root, the
# end-to-end tests run too; without root they are reported as skipped.
# With CI=true warnings are errors.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."

scripts/install-deps.sh

preset=default
if [[ ${CI:-} == true ]]; then
    preset=ci
fi
cmake --preset "$preset"
cmake --build --preset "$preset" --parallel "$(nproc)"
ctest --preset "$preset" --parallel "$(nproc)"
