#!/bin/bash
# Builds vidselect and shows it at work in a throwaway sandbox: installed
# set-user-ID root with the stand-ins and a few sample driver modules, run
# as the service account (list, query, change, query again), then by an
# account that is turned away. Run as root; the machine is left as it was.
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
source "$here/sandbox.sh"

sandbox_start_with_default_build "$@"

modules=/usr/lib/xorg/modules/drivers
mkdir -p "$modules"
for driver in modesetting fbdev vesa; do
    : >"$modules/${driver}_drv.so"
done
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
echo "Sample driver modules in $modules:" $(ls "$modules")
show tavik -l
show tavik -q
show tavik -m fbdev
show tavik -q
show alice -l
