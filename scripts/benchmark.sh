#!/bin/bash
# Times `vidselect -q` as the service account against the routes it stands
# in for, with a configurator that does nothing, in the same sandbox as the
# end-to-end tests:
#   shell  sh -c '/opt/qtr/bin/dispconfig -o q'   (what vidselect wraps)
#   sudo   sudo /opt/qtr/bin/dispconfig -o q      (with a NOPASSWD rule)
# The routes alternate, in rotating order, for RUNS rounds (default 41)
# after a few warm-up rounds; the medians and their ratios are printed.
# A benchmark, not a test. Run as root; the machine is left as it was,
# apart from the packages it installs (sudo among them).
#
# usage: scripts/benchmark.sh [RUNS]
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
source "$here/sandbox.sh"

if ! sandbox_inside; then
    "$here/install-deps.sh" sudo || exit
fi
sandbox_start_with_default_build "$@"

runs=${1:-41}
install -m 0755 /usr/bin/true /opt/qtr/bin/dispconfig
sandbox_add_account tavik 1500 morle
echo 'tavik ALL=(root) NOPASSWD: /opt/qtr/bin/dispconfig' >/etc/sudoers.d/benchmark
chmod 0440 /etc/sudoers.d/benchmark
# sudo looks the host's name up; answer it from the sandbox's own hosts file.
echo "127.0.1.1 $(hostname)" >>/etc/hosts

# Each route must work before it is timed.
for route in "/usr/local/bin/vidselect -q" "sh -c '/opt/qtr/bin/dispconfig -o q'" \
    "sudo /opt/qtr/bin/dispconfig -o q"; do
    if ! sandbox_as tavik sh -c "$route" </dev/null; then
        echo "benchmark: '$route' fails as the service account" >&2
        exit 1
    fi
done

# Timed from inside one shell of the service account's, so that only the
# route itself is measured. Prints "route microseconds" lines.
timings=$sandbox_scratch/timings
sandbox_as tavik bash -c '
    runs=$1 warmup=5
    routes=(vidselect shell sudo)
    timeRoute() {
        local start=$EPOCHREALTIME
        case $1 in
        vidselect) /usr/local/bin/vidselect -q ;;
        shell) sh -c "/opt/qtr/bin/dispconfig -o q" ;;
        sudo) sudo /opt/qtr/bin/dispconfig -o q ;;
        esac
        local end=$EPOCHREALTIME
        echo "$1 $((${end/./} - ${start/./}))"
    }
    for ((round = 0; round < warmup + runs; round++)); do
        for ((i = 0; i < 3; i++)); do
            line=$(timeRoute "${routes[(round + i) % 3]}" </dev/null)
            ((round >= warmup)) && echo "$line"
        done
    done
' benchmark "$runs" >"$timings"

median() { # ROUTE: the median time in microseconds
    awk -v route="$1" '$1 == route { print $2 }' "$timings" | sort -n |
        awk '{ times[NR] = $1 } END { print (NR % 2) ? times[(NR + 1) / 2] : int((times[NR / 2] + times[NR / 2 + 1]) / 2) }'
}
tool=$(median vidselect)
shell=$(median shell)
sudo_time=$(median sudo)
awk -v tool="$tool" -v shell="$shell" -v sudo_time="$sudo_time" -v runs="$runs" 'BEGIN {
    printf "%d alternating runs each, median wall time:\n", runs
    printf "  vidselect -q                          %8.3f ms\n", tool / 1000
    printf "  sh -c \x27dispconfig -o q\x27                %8.3f ms\n", shell / 1000
    printf "  sudo dispconfig -o q                  %8.3f ms\n", sudo_time / 1000
    printf "vidselect / shell route: %.2fx (target at most 1.25x)\n", tool / shell
    printf "vidselect / sudo route:  %.2fx (target at most 0.60x)\n", tool / sudo_time
}'
