# shellcheck shell=bash
# Debian's piuparts on both packages together: it installs and purges them
# in a clean Debian 12 root it makes with debootstrap, and fails on
# anything left behind or taken away, or anything adequate finds wrong
# with the installed packages. The base root is kept in CACHE_DIR, so a
# second run skips debootstrap, and piuparts' log with it. Where it cannot run (not root, no Debian
# mirror) it is skipped, saying why, except in CI, where it fails instead.
#
# usage: bash piuparts.sh PACKAGE_DIR TOOL_SOURCE CACHE_DIR
# shellcheck source=SCRIPTDIR/debian_root.sh
source "$(dirname "$(readlink -f "$0")")/debian_root.sh"
cache_dir=$3
readonly distribution=bookworm

require_root_and
if ! roots_mirror_reachable; then
    cannot_run "piuparts needs the Debian mirror $roots_mirror, and it cannot be reached"
fi

mkdir -p "$cache_dir"
base=$cache_dir/$distribution.tar.gz
work=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-piuparts.XXXXXX")
trap 'rm -rf "$work"' EXIT
log=$cache_dir/piuparts.log
if [[ -f $base ]]; then
    base_option=(--basetgz="$base")
else
    echo "piuparts: making the clean $distribution root with debootstrap, kept in $base"
    base_option=(--save="$work/base.tar.gz")
fi
# In a mount namespace of its own, so that none of the mounts it makes in
# its root can outlive it on the host.
status=0
unshare --mount --propagation private \
    piuparts --distribution="$distribution" --mirror="$roots_mirror" --tmpdir="$work" \
    "${base_option[@]}" --fail-if-inadequate "${packages[@]}" >"$log" 2>&1 || status=$?
# Kept only whole: piuparts saves the root before it tests the packages.
if [[ -f $work/base.tar.gz ]] && gzip -t "$work/base.tar.gz" 2>/dev/null; then
    mv "$work/base.tar.gz" "$base"
fi
if ((status != 0)); then
    # Its findings, each with the lines that go with it.
    awk '/^[0-9hms.]+ ERROR:/ { shown = 1; print; next } /^[0-9hms.]+ / { shown = 0 } shown' "$log" |
        head -n 40
    echo "FAIL: piuparts on ${packages[*]##*/}; its whole log is $log"
    exit 1
fi
grep -E 'PASS' "$log"
