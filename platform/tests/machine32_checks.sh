# shellcheck shell=bash
# The checks on the 32-bit machine (machine32.sh), run as root by its init
# from the second disk, DIR, which holds both packages, a copy of the
# tool's source files and the X server's start as the sandbox does it
# (scripts/xserver.sh). The guest is a Debian machine to spare: its own
# autopkgtest runs the tool's installed-package tests (debian/tests) with
# the null backend, as one would by hand. Then come what only a whole
# machine shows: its 32-bit kernel, the real X server restarted with the
# driver chosen, and a purge that leaves the files as they were before
# the tests. Each check, the tests' own too, says PASS or FAIL on the
# console; the status is 0 when every one passed.
#
# usage: bash machine32_checks.sh DIR
disk=$1
# The console is the report: each check says PASS too.
# shellcheck disable=SC2034 # testlib.sh reads it
testlib_announce_passes=true
# shellcheck source=SCRIPTDIR/../../tests/e2e/testlib.sh
source "$disk/source/tests/e2e/testlib.sh"
# shellcheck source=SCRIPTDIR/../scripts/xserver.sh
source "$disk/xserver.sh"
readonly vidselect=/usr/bin/vidselect
readonly snippet=/etc/X11/xorg.conf.d/20-dispconfig.conf
readonly roles=/etc/vorn/roles
readonly results=/tmp/autopkgtest

# The guest is a sandbox of its own: no write to its root outlives it.
sandbox_inside() {
    true
}

# Everything a package could leave behind or take away, with its type,
# mode and owner. dpkg's own bookkeeping outside info/ (status, logs,
# triggers) changes with any package, and the account files' backups
# (/etc/passwd- and the like) with any account added or removed: they are
# left out.
file_listing() {
    find /usr /etc /opt /var/lib/dpkg/info -xdev \
        -not -regex '/etc/g?shadow-\|/etc/group-\|/etc/passwd-' -printf '%M %u:%g %p\n' | sort
}

# autopkgtest_passed: for check, after autopkgtest ran; a failure shows its
# verdicts and the end of its log.
# shellcheck disable=SC2317 # run by check
autopkgtest_passed() {
    ((autopkgtest_status == 0)) && return
    cat "$results/summary"
    tail -n 20 /tmp/autopkgtest.log
    return 1
}

check "the kernel is 32-bit x86: uname -m" is_equal "$(uname -m)" i686
check "the system is 32-bit: getconf LONG_BIT" is_equal "$(getconf LONG_BIT)" 32
file_listing >/tmp/before

# The tool's tests on both packages, each test's own checks on the console.
# autopkgtest's Python leaves no compiled modules behind, which the purge
# check would take for the packages'.
autopkgtest_status=0
PYTHONDONTWRITEBYTECODE=1 autopkgtest --output-dir="$results" "$disk"/vidselect_*.deb "$disk"/vidselect-standins_*.deb \
    "$disk/source/" -- null >/tmp/autopkgtest.log 2>&1 || autopkgtest_status=$?
cat "$results"/*-stdout "$results"/*-stderr 2>/dev/null
check "the guest's autopkgtest passes every test of debian/tests" autopkgtest_passed

# The tests took their accounts and roles away, and the snippet with them:
# the service account chooses the driver again, for the restart.
useradd --system --no-create-home --shell /usr/sbin/nologin tavik
mkdir /etc/vorn
echo tavik:morle >"$roles"
check "as tavik, vidselect -m dummy chooses the X server's driver" \
    quietly runuser -u tavik -- "$vidselect" -m dummy
if sandbox_restart_x_server; then
    pass "the X server starts as on a restart, reading ${snippet%/*}"
else
    fail "the X server starts as on a restart, reading ${snippet%/*}" \
        "its log ends:" "$(tail -n 10 "$sandbox_x_log" 2>&1)"
fi
check "the X server loads the chosen driver" grep -qF 'LoadModule: "dummy"' "$sandbox_x_log"
check "the X server serves xdpyinfo" grep -q "^name of display: *$sandbox_x_display\$" "$sandbox_x_client_output"

# The snippet is the administrator's choice of driver, which no purge
# takes, and the account and its roles are the administrator's too.
rm -f "$snippet" "$roles"
rmdir "${roles%/*}"
userdel tavik
check "the guest's dpkg purges both packages" quietly dpkg --purge vidselect vidselect-standins
check "the purge takes the configurator's lock" test ! -e /run/dispconfig.lock
file_listing >/tmp/after
check "the purge leaves the files as they were before the tests" diff /tmp/before /tmp/after

finish
