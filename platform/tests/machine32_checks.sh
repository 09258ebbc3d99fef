# shellcheck shell=bash
# The checks on the 32-bit machine (machine32.sh), run as root by its init
# from the second disk, DIR, which holds both packages and the X server's
# start as the sandbox does it (scripts/xserver.sh), and a copy of the
# suites' checks (testlib.sh). Each check says PASS or FAIL on the console;
# the status is 0 when every one passed.
#
# usage: bash machine32_checks.sh DIR
disk=$1
# The console is the report: each check says PASS too.
# shellcheck disable=SC2034 # testlib.sh reads it
testlib_announce_passes=true
# shellcheck source=SCRIPTDIR/testlib.sh
source "$disk/testlib.sh"
# shellcheck source=SCRIPTDIR/../../scripts/xserver.sh
source "$disk/xserver.sh"
readonly vidselect=/usr/bin/vidselect
readonly snippet=/etc/X11/xorg.conf.d/20-dispconfig.conf
readonly no_default="No default graphics driver is set; the X server chooses one when it starts."
out=/tmp/stdout

# run USER ARGUMENT...: vidselect as USER, its output in $out, its status
# in $status.
run() {
    local user=$1
    shift
    status=0
    runuser -u "$user" -- "$vidselect" "$@" >"$out" 2>/tmp/stderr || status=$?
}

# The status and the whole output of the last run, to its very end.
last_run() {
    echo "status $status"
    cat "$out"
    echo "(end of output)"
}

# The guest is a sandbox of its own: no write to its root outlives it.
sandbox_inside() {
    true
}

check "the kernel is 32-bit x86: uname -m" is_equal "$(uname -m)" i686
check "the system is 32-bit: getconf LONG_BIT" is_equal "$(getconf LONG_BIT)" 32

# The administrator's part: the service account with the service role, and
# another account.
useradd --system --no-create-home --shell /usr/sbin/nologin tavik
useradd --no-create-home --shell /bin/bash alice
mkdir -p /etc/vorn
echo tavik:morle >/etc/vorn/roles
file_listing >/tmp/before

check "the guest's dpkg installs both packages" \
    dpkg -i "$disk"/vidselect_*.deb "$disk"/vidselect-standins_*.deb

run tavik -q
check "as tavik, vidselect -q says no driver is chosen yet" is_equal "$(last_run)" "status 0
$no_default
(end of output)"
run tavik -l
check "as tavik, vidselect -l lists dummy" grep -qx dummy "$out"
run tavik -m dummy
check "as tavik, vidselect -m dummy succeeds" is_equal "$status" 0
run tavik -q
check "as tavik, vidselect -q then shows dummy" is_equal "$(last_run)" "status 0
Default graphics driver: dummy
(end of output)"
check "the snippet is root's" is_equal "$(stat -c %U:%G "$snippet")" root:root
if runuser -u tavik -- touch "${snippet%/*}/tavik" 2>/dev/null || [[ -e ${snippet%/*}/tavik ]]; then
    fail "tavik cannot write to the snippet's directory"
else
    pass "tavik cannot write to the snippet's directory"
fi

run alice -q
check "another account gets the denial alone, with status 1" is_equal "$(last_run)" "status 1
Access denied, Insufficient privileges!
(end of output)"

if sandbox_restart_x_server; then
    pass "the X server starts as on a restart, reading ${snippet%/*}"
else
    fail "the X server starts as on a restart, reading ${snippet%/*}" \
        "its log ends:" "$(tail -n 10 "$sandbox_x_log" 2>&1)"
fi
check "the X server loads the chosen driver" grep -qF 'LoadModule: "dummy"' "$sandbox_x_log"
check "the X server serves xdpyinfo" grep -q "^name of display: *$sandbox_x_display\$" "$sandbox_x_client_output"

# The snippet is the administrator's choice of driver, which no purge takes.
rm -f "$snippet"
check "the guest's dpkg purges both packages" dpkg --purge vidselect vidselect-standins
file_listing >/tmp/after
check "the purge leaves the files as they were before the install" diff /tmp/before /tmp/after

finish
