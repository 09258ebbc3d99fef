#!/bin/bash
# Installs, from Debian 12's packages, whatever the build, the demo and the
# tests need and this machine lacks, and any further packages named on the
# command line. Needs root when something is missing. The package manager's
# own output goes to a log; one line says what is being installed and
# where that log is, and a failure shows the log's tail.
#
# usage: scripts/install-deps.sh [PACKAGE...]
set -euo pipefail

packages=(
    cmake g++ make        # the build
    googletest            # unit tests (built from its sources)
    util-linux mount      # unshare, setpriv, mount: the sandbox
    binutils              # readelf: the installation check
    crossbuild-essential-i386  # the 32-bit build, Debian's cross toolchain
    libc6-dev:i386        # what dpkg-shlibdeps reads for the 32-bit packages
    qemu-user             # running the 32-bit tests
    qemu-system-x86 e2fsprogs  # the whole 32-bit machine (qemu-system-i386, mkfs.ext4 -d)
    qemu-user-static      # making its root where no 32-bit code runs natively
    devscripts            # hardening-check
    groff-base mandoc     # the man page checks
    dpkg-dev debhelper fakeroot  # packaging
    lintian piuparts debootstrap adequate # Debian's own package checks
    clang-tidy cppcheck shellcheck  # static analysis
    clang libclang-rt-14-dev  # the fuzzers (libFuzzer)
    xserver-xorg-core xserver-xorg-video-dummy  # a real X server, headless
    xserver-xorg-video-fbdev xserver-xorg-video-vesa  # more real drivers
    x11-utils             # xdpyinfo, a client of that server
    bash-completion       # the completion test
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

log=${TMPDIR:-/tmp}/vidselect-install-deps.log
echo "Installing ${missing[*]} (log: $log)"
export DEBIAN_FRONTEND=noninteractive
# The 32-bit packages' C library comes from Debian's i386 archive.
if [[ ${missing[*]} == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
if ! { apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "install-deps: installing failed; the whole log is in $log" >&2
    exit 1
fi
