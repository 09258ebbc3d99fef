#!/bin/bash
# Times `vidselect -q` as the service account against the routes it stands
# in for, with a configurator that does nothing, in the same sandbox as the
# end-to-end tests:
#   floor  bench/gate_floor: the same gate, then system() of the query, set-
#          user-ID root with no hardening: the least any such wrapper costs
#   shell  sh -c '/opt/qtr/bin/dispconfig -o q'   (what vidselect wraps)
#   sudo   sudo /opt/qtr/bin/dispconfig -o q      (with a NOPASSWD rule)
# The routes alternate, in rotating order, for RUNS rounds (default 41)
# after a few warm-up rounds. Then vidselect -q runs RUNS times more with a
# hostile environment of 40,000 LC_X<i>=x entries. The medians and the
# ratios of vidselect to the others are printed.
# The figure to hold is the ratio to the floor: what vidselect adds to the
# least any set-user-ID wrapper does. It has a target, and the verdict says
# whether it was met; the exit status is 1 when it was missed. The ratios
# to the sudo and shell routes are shown for comparison only: the first
# depends on how fast the host's sudo is, and no wrapper can meet the
# second, being one process start more than the route it wraps.
# A benchmark, not a test. Run as root; the machine is left as it was,
# apart from the packages it installs (sudo among them).
#
# usage: scripts/benchmark.sh [RUNS]
set -uo pipefail

usage() {
    echo "usage: ${0##*/} [RUNS]   (RUNS: rounds to time, a positive integer; default 41, under 30 not to be trusted)" >&2
    exit 2
}
if (($# > 1)) || [[ $# == 1 && ! $1 =~ ^[1-9][0-9]{0,5}$ ]]; then
    usage
fi
runs=${1:-41}
readonly hostile_entries=40000
# Fewer rounds than this and two runs of the script disagree by more than
# the target's margin.
readonly trusted_runs=30
# vidselect at most this many times the floor.
readonly floor_target=1.10

here=$(dirname "$(readlink -f "$0")")
# shellcheck source=SCRIPTDIR/sandbox.sh
source "$here/sandbox.sh"

if ! sandbox_inside; then
    sandbox_check_possible
    "$here/install-deps.sh" demo sudo || exit
fi
sandbox_start_with_tool_build "$@"

build_dir=$sandbox_tool_build
cmake --build "$build_dir" --target gate_floor >/dev/null || exit
install -m 4755 -o root -g root "$build_dir/bench/gate_floor" /usr/local/bin/gate_floor
install -m 0755 "$build_dir/tests/role_library/libvorn.so" /usr/local/lib/libvorn.so
ldconfig
install -D -m 0755 /usr/bin/true /opt/qtr/bin/dispconfig
sandbox_add_account tavik 1500 morle
echo 'tavik ALL=(root) NOPASSWD: /opt/qtr/bin/dispconfig' >/etc/sudoers.d/benchmark
chmod 0440 /etc/sudoers.d/benchmark
# sudo looks the host's name up; answer it from the sandbox's own hosts file.
echo "127.0.1.1 $(hostname)" >>/etc/hosts

# Each route must work before it is timed.
for route in "/usr/local/bin/vidselect -q" /usr/local/bin/gate_floor \
    "sh -c '/opt/qtr/bin/dispconfig -o q'" "sudo /opt/qtr/bin/dispconfig -o q"; do
    if ! sandbox_as tavik sh -c "$route" </dev/null; then
        echo "benchmark: '$route' fails as the service account" >&2
        exit 1
    fi
done

# Timed from inside one shell of the service account's, so that only the
# route itself is measured. Prints "route microseconds" lines.
timings=$sandbox_scratch/timings
# shellcheck disable=SC2016 # the inner bash expands its own arguments
sandbox_as tavik bash -c '
    runs=$1 hostile_entries=$2 warmup=5
    routes=(vidselect floor shell sudo)
    timeRoute() {
        local start=$EPOCHREALTIME
        case $1 in
        vidselect | hostile) /usr/local/bin/vidselect -q ;;
        floor) /usr/local/bin/gate_floor ;;
        shell) sh -c "/opt/qtr/bin/dispconfig -o q" ;;
        sudo) sudo /opt/qtr/bin/dispconfig -o q ;;
        esac
        local end=$EPOCHREALTIME
        echo "$1 $((${end/./} - ${start/./}))"
    }
    for ((round = 0; round < warmup + runs; round++)); do
        for ((i = 0; i < ${#routes[@]}; i++)); do
            line=$(timeRoute "${routes[(round + i) % ${#routes[@]}]}" </dev/null)
            ((round >= warmup)) && echo "$line"
        done
    done
    for ((i = 0; i < hostile_entries; i++)); do
        export "LC_X$i=x"
    done
    for ((round = 0; round < warmup + runs; round++)); do
        line=$(timeRoute hostile </dev/null)
        ((round >= warmup)) && echo "$line"
    done
' benchmark "$runs" "$hostile_entries" >"$timings" || exit

median() { # ROUTE: the median time in microseconds
    awk -v route="$1" '$1 == route { print $2 }' "$timings" | sort -n |
        awk '{ times[NR] = $1 } END { print (NR % 2) ? times[(NR + 1) / 2] : int((times[NR / 2] + times[NR / 2 + 1]) / 2) }'
}
awk -v runs="$runs" -v trusted_runs="$trusted_runs" -v floor_target="$floor_target" \
    -v entries="$hostile_entries" \
    -v tool="$(median vidselect)" -v floor="$(median floor)" -v shell="$(median shell)" \
    -v sudo_time="$(median sudo)" -v hostile="$(median hostile)" 'BEGIN {
    printf "%d alternating runs each, median wall time:\n", runs
    row("vidselect -q", tool)
    row("floor: the gate, then system()", floor)
    row("sh -c \047dispconfig -o q\047", shell)
    row("sudo dispconfig -o q", sudo_time)
    row(sprintf("vidselect -q, %d LC_X<i> entries", entries), hostile)
    # Judged as printed, so that the verdict agrees with the figures shown.
    floor_ratio = sprintf("%.2f", tool / floor) + 0
    met = floor_ratio <= floor_target + 0
    ratio("floor", floor, sprintf("target at most %.2fx: %s", floor_target, met ? "met" : "missed"))
    ratio("sudo route", sudo_time, "for comparison, not a target: it depends on this host\047s sudo")
    ratio("shell route", shell, "for comparison, not a target: a wrapper is one process start more")
    printf "The figure to hold is the ratio to the floor: vidselect at most %.2fx the floor.\n", floor_target
    if (runs < trusted_runs)
        printf "warning: %d runs are too few to trust these figures; take %d or more.\n", runs, trusted_runs
    exit met ? 0 : 1
}
function row(label, microseconds) {
    printf "  %-36s %10.3f ms\n", label, microseconds / 1000
}
function ratio(label, microseconds, verdict) {
    printf "vidselect / %-12s %5.2fx  %s\n", label ":", tool / microseconds, verdict
}'
