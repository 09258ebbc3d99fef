# shellcheck shell=bash
# The tool's installed-package tests (its debian/tests), run by Debian's
# autopkgtest on both packages in a Debian RELEASE root: bookworm (Debian
# 12), or bullseye (Debian 11), whose C library is the oldest the packages
# promise to run on, so that an install there proves they ask for no
# newer one.
#
# The root (scripts/roots.sh: a minimal Debian, with what autopkgtest
# installs in every testbed it is given a source tree for: apt-utils, which
# publishes the packages, and dpkg-dev, which unpacks the tree) is made once
# and kept in the cache. Each run hands autopkgtest's chroot backend a throwaway overlay of
# it, in a mount namespace of its own, so that the kept root never changes
# and nothing mounted outlives the run. There autopkgtest installs the
# packages and what the tests depend on with apt, from Debian's mirror,
# and runs the tests of a copy of the tool's source files. Its whole log is
# kept in OUTPUT_DIR.
#
# The same tests, by hand, as root, on a Debian machine one can spare, from
# the top of the tool's source tree:
#   autopkgtest vidselect_*.deb vidselect-standins_*.deb ./ -- null
#
# Where it cannot run (not root, no autopkgtest, no Debian mirror) it is
# skipped, saying why, except in CI, where it fails instead.
#
# usage: bash autopkgtest.sh PACKAGE_DIR TOOL_SOURCE RELEASE OUTPUT_DIR
# shellcheck source=SCRIPTDIR/debian_root.sh
source "$(dirname "$(readlink -f "$0")")/debian_root.sh"
# shellcheck source=SCRIPTDIR/../scripts/sources.sh
source "$platform/scripts/sources.sh"
readonly release=$3 output_dir=$4
architecture=$(dpkg-deb -f "${packages[0]}" Architecture)

require_root_and autopkgtest debootstrap
# For the root's first making, and for the tests' dependencies every run.
if ! roots_mirror_reachable; then
    cannot_run "${0##*/} needs the Debian mirror $roots_mirror, and it cannot be reached"
fi

readonly root_script="apt-get install -y -q apt-utils dpkg-dev"
root=$(roots_dir "autopkgtest-$release-$architecture" "$root_script$(roots_recipe)")
work=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-autopkgtest.XXXXXX")
cleanup() {
    if [[ -n $roots_building ]]; then rm -rf --one-file-system "$roots_building"; fi
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# make_root DIR: the Debian root in DIR.
make_root() {
    echo "autopkgtest: making the Debian $release $architecture root, kept in $root (log: $root.log)"
    : >"$root.log"
    roots_make "$1" "$release" "$architecture" "$root.log" "$root_script"
}
status=0
roots_keep "$root" make_root || status=$?
if ((status == 77)); then
    cannot_run "$roots_unavailable"
elif ((status != 0)); then
    exit 1
fi

mkdir "$work/source" "$work/top"
copy_sources "$tool_source" "$work/source"
rm -rf "$output_dir"
mkdir -p "${output_dir%/*}"

# in_overlay ROOT TOP COMMAND...: COMMAND, with an overlay of ROOT, whose
# changes go with this mount namespace, at TOP/root.
in_overlay() {
    local root=$1 top=$2
    shift 2
    roots_overlay "$root" "$top" || return
    # Terminals of its own, which apt asks for to log dpkg's run.
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$top/root/dev/pts" || return
    mount --bind "$top/root/dev/pts/ptmx" "$top/root/dev/ptmx" || return
    # The host's resolver now, not the one the root was made with.
    cp /etc/resolv.conf "$top/root/etc/resolv.conf" || return
    "$@"
}
log=$output_dir.log
echo "autopkgtest: ${packages[*]##*/} in Debian $release (log: $log)"
status=0
unshare --mount --pid --fork --propagation private -- \
    bash -c "$(declare -f roots_overlay in_overlay)"' && in_overlay "$@"' in_overlay "$root" "$work/top" \
    autopkgtest --output-dir="$output_dir" --setup-commands="apt-get update -q" \
    "${packages[@]}" "$work/source/" -- chroot "$work/top/root" >"$log" 2>&1 || status=$?
# Each test's verdict, from autopkgtest's summary.
summary=$output_dir/summary
if [[ -f $summary ]]; then
    cat "$summary"
fi
# show_failures: what each test that did not pass printed; without a
# verdict for any, the end of autopkgtest's log.
show_failures() {
    local failed_tests=() test stream
    if [[ -f $summary ]]; then
        mapfile -t failed_tests < <(awk '$2 != "PASS" { print $1 }' "$summary")
    fi
    if ((${#failed_tests[@]} == 0)); then
        tail -n 40 "$log"
    fi
    for test in "${failed_tests[@]}"; do
        for stream in stdout stderr; do
            if [[ -s $output_dir/$test-$stream ]]; then
                echo "--- $test, its $stream:"
                head -n 40 "$output_dir/$test-$stream"
            fi
        done
    done
}
# Any other status, a skipped test's (2) too, is a failure: in a fresh
# root of its own every test can run.
if ((status != 0)); then
    show_failures
    echo "FAIL: autopkgtest in Debian $release ended with status $status; its whole log is $log"
    exit 1
fi
echo "${0##*/}: every test of debian/tests passed in Debian $release"
