#!/bin/bash
# Builds vidselect and the stand-ins, and shows the tool at work in a
# throwaway sandbox: installed set-user-ID root with the stand-ins, offering
# the X server drivers that Debian's packages installed on this machine, run
# as the service account (list, query, change, query again), then by an
# account that is turned away. Ends by restarting the real X server and
# showing the driver it now runs. Run as root; the machine is left as it
# was. The tool comes from the tree this one sits in (../..), with its
# sandbox.
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=SCRIPTDIR/../../scripts/sandbox.sh
source "$here/../../scripts/sandbox.sh"
# shellcheck source=SCRIPTDIR/sandbox-standins.sh
source "$here/sandbox-standins.sh"
# shellcheck source=SCRIPTDIR/xserver.sh
source "$here/xserver.sh"

if ! sandbox_inside; then
    sandbox_build_tool
    sandbox_build "the stand-ins" "$here/.." tool vidselect-standins-build.log
fi
sandbox_enter "$@"
sandbox_setup
sandbox_install "$sandbox_tool_build"
sandbox_install_standins "$here/../build/tool" || exit

# dummy needs no graphics hardware, so the X server can come up here.
chosen=dummy
offered=()
for driver in dummy fbdev modesetting vesa; do
    if [[ -f $sandbox_host_drivers/${driver}_drv.so ]]; then
        offered+=("$driver")
    fi
done
sandbox_offer_drivers "${offered[@]}" || exit
sandbox_add_account tavik 1500 morle
sandbox_add_account alice 1501 operator

show() { # ACCOUNT ARG...
    local who=$1
    shift
    printf '\n%s$ vidselect %s\n' "$who" "$*"
    sandbox_as "$who" /usr/local/bin/vidselect "$@"
    printf '(exit status %d)\n' $?
}

echo "vidselect installed as: $(stat -c '%A %U:%G %n' /usr/local/bin/vidselect)"
echo "X server drivers installed from Debian's packages: ${offered[*]}"
show tavik -l
show tavik -q
show tavik -m "$chosen"
show tavik -q
show alice -l

printf '\nRestarting the X server, as the machine does on a restart: it reads %s.\n' "$sandbox_x_config_dir"
if sandbox_restart_x_server; then
    echo "It came up on display $sandbox_x_display. From its log, the driver it loaded and the screen it runs:"
    { grep -m1 -F '/drivers/' "$sandbox_x_log" && grep -m1 -E '\) [A-Z]+\(0\): ' "$sandbox_x_log"; } |
        sed 's/^\[[ 0-9.]*\] /  /'
    echo "From xdpyinfo, a client on that display:"
    grep -E '^(name of display|vendor string):|^  dimensions:' "$sandbox_x_client_output" | sed 's/^ */  /'
else
    echo "It did not come up. Its log ends:"
    tail -n 10 "$sandbox_x_log"
    exit 1
fi
