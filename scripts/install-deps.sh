#!/bin/bash
# Installs, from Debian 12's packages, whatever the build, the demo and the
# tests need and this machine lacks, and any further packages named on the
# command line. Needs root when something is missing.
#
# usage: scripts/install-deps.sh [PACKAGE...]
set -euo pipefail

packages=(
    cmake g++ make        # the build
    googletest            # unit tests (built from its sources)
    util-linux mount      # unshare, setpriv, mount: the sandbox
    binutils              # readelf: the installation check
    g++-multilib          # the 32-bit build
    qemu-user             # running the 32-bit tests
    devscripts            # hardening-check
    groff-base            # the man page check
    dpkg-dev              # packaging
    clang-tidy cppcheck   # static analysis
    clang libclang-rt-14-dev  # the fuzzers (libFuzzer)
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if ((${#missing[@]} == 0)); then
    exit 0
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
