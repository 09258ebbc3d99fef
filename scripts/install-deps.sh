#!/bin/bash
# Installs, from Debian 12's packages, whatever one of the README's commands
# needs and this machine lacks, and any further packages named after it.
# Needs root when something is missing. The package manager's own output
# goes to a log; one line says what is being installed and where that log
# is, and a failure shows the log's tail.
#
#   demo  what scripts/demo.sh shows, and the benchmark starts from: the
#         build dependencies of the tool without its tests (debian/control's
#         Build-Depends under the nocheck profile, with build-essential),
#         the sandbox's tools, the X server with the drivers the demo
#         offers, and xdpyinfo.
#   test  what scripts/test.sh builds and runs: all of the above, the unit
#         tests' GoogleTest, the 32-bit cross toolchain and what runs its
#         tests (the kernel's 32-bit loader and C and C++ libraries from
#         Debian's biarch packages, or qemu-user), the whole 32-bit
#         machine, Debian's package checks, static analysis and the
#         fuzzers.
#
# Neither adds a foreign architecture to dpkg nor installs a package of
# another architecture: Debian's cross toolchain, its 32-bit libraries
# and the biarch runtime are all packages of the machine's own, so a
# mirror whose i386 lists lag its amd64 ones cannot hold anything back.
# The script checks that after installing, and fails if it did otherwise.
#
# usage: scripts/install-deps.sh demo|test [PACKAGE...]
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)

demo_packages=(
    util-linux mount      # unshare, setpriv, mount: the sandbox
    xserver-xorg-core xserver-xorg-video-dummy  # a real X server, headless
    xserver-xorg-video-fbdev xserver-xorg-video-vesa  # more real drivers
    x11-utils             # xdpyinfo, a client of that server
)
test_packages=(
    "${demo_packages[@]}"
    # Debian's cross toolchain, with the 32-bit C and C++ libraries it
    # links against under /usr/i686-linux-gnu, for the i386 preset. (The
    # packages are built with Debian 11's, in a root of their own:
    # scripts/package.sh.)
    crossbuild-essential-i386
    # Where the kernel runs 32-bit code, the 32-bit tests run on it: the
    # loader, C library and (for the unit tests) C++ library of the
    # machine's own biarch packages, in /usr/lib32.
    libc6-i386 lib32stdc++6
    qemu-user             # running the 32-bit tests where it does not
    qemu-system-x86 e2fsprogs  # the whole 32-bit machine (qemu-system-i386, mkfs.ext4 -d)
    qemu-user-static      # making its root where no 32-bit code runs natively
    devscripts            # hardening-check
    groff-base mandoc     # the man page checks
    lintian piuparts autopkgtest debootstrap adequate # Debian's own package checks
    clang-tidy cppcheck shellcheck  # static analysis
    clang libclang-rt-14-dev  # the fuzzers (libFuzzer)
    bash-completion       # the completion test
)

case ${1:-} in
demo)
    packages=("${demo_packages[@]}")
    build_profile=(-P nocheck)
    ;;
test)
    packages=("${test_packages[@]}")
    build_profile=()
    ;;
*)
    echo "usage: ${0##*/} demo|test [PACKAGE...]" >&2
    exit 2
    ;;
esac
shift
packages+=("$@")

# dpkg-checkbuilddeps comes with the build dependencies (build-essential
# holds dpkg-dev).
build_deps_missing=false
if ! command -v dpkg-checkbuilddeps >/dev/null ||
    ! dpkg-checkbuilddeps "${build_profile[@]}" "$root/debian/control" 2>/dev/null; then
    build_deps_missing=true
fi

# One query for them all, the usual case; only when it finds something
# amiss, one for each package, to name what is missing.
all_installed() { # PACKAGE...
    local statuses
    statuses=$(dpkg-query -W -f '${db:Status-Abbrev}|' "$@" 2>/dev/null) || return
    [[ -z ${statuses//ii |/} ]]
}
missing=()
if ! all_installed "${packages[@]}"; then
    for package in "${packages[@]}"; do
        if ! dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
fi
if ! $build_deps_missing && ((${#missing[@]} == 0)); then
    exit 0
fi

what=()
if $build_deps_missing; then
    what+=("debian/control's build dependencies${missing[*]:+ and}")
fi
what+=("${missing[@]}")
log=${TMPDIR:-/tmp}/vidselect-install-deps.log
echo "Installing ${what[*]} (log: $log)"
export DEBIAN_FRONTEND=noninteractive
apt_options=(-y -q --no-install-recommends)

# The foreign architectures dpkg knows and the packages of another
# architecture than the machine's own, one a line: installing must add
# none.
foreign_state() {
    dpkg --print-foreign-architectures
    dpkg-query -W -f '${binary:Package} ${Architecture}\n' |
        awk -v native="$(dpkg --print-architecture)" '$2 != native && $2 != "all" { print $1 }'
}
foreign_before=$(foreign_state)

# A mirror caught mid-sync fails one index of many (a security archive's
# list, say) until the sync is done: a few tries, a pause apart. Should
# one still fail, apt keeps the lists it did fetch, which may well hold
# everything needed, so that only warns, naming the lists; a package truly
# missing still fails the install below.
readonly update_tries=3 update_pause_seconds=20
update_package_lists() {
    local try output
    for ((try = 1; ; try++)); do
        if output=$(apt-get update -q 2>&1); then
            printf '%s\n' "$output"
            return
        fi
        printf '%s\n' "$output"
        ((try < update_tries)) || break
        echo "install-deps: apt-get update failed; trying again in $update_pause_seconds s"
        sleep "$update_pause_seconds"
    done
    {
        echo "install-deps: apt-get update failed $update_tries times; going on with the lists apt has. It said:"
        grep -E '^(E|W): ' <<<"$output" | sed 's/^/  /'
    } | tee "/dev/fd/$terminal"
}

# The log takes everything but that warning, which goes to the terminal too.
exec {terminal}>&2
if ! {
    update_package_lists &&
        if $build_deps_missing; then
            apt-get build-dep "${apt_options[@]}" "${build_profile[@]}" "$root"
        fi &&
        if ((${#missing[@]})); then
            apt-get install "${apt_options[@]}" "${missing[@]}"
        fi
} >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "install-deps: installing failed; the whole log is in $log" >&2
    exit 1
fi

added=$(comm -13 <(sort <<<"$foreign_before") <(foreign_state | sort))
if [[ -n $added ]]; then
    echo "install-deps: installing added a foreign architecture or a package of one: ${added//$'\n'/ }" >&2
    exit 1
fi
