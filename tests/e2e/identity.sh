# shellcheck shell=bash
# Who the configurator runs as. A change runs wholly as the superuser, and
# so does everything after it in the same run; without a change, the
# configurator runs wholly as the caller. Installed without set-user-ID,
# the change runs as the caller.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

readonly all_root="0 0 0 0 0 0"
readonly all_caller="1500 1500 1500 1500 1500 1500"

sandbox_groups=4000,4001
run tavik -m vesa
expect_recorded "change: every user and group id is root's" m ids "$all_root"
expect_recorded "change: the caller's supplementary groups are gone" m groups ""
expect_status "change as root succeeds" 0

run tavik -l -q -m vesa
expect_recorded "query after a change: still root" q ids "$all_root"
expect_recorded "list after a change: still root" l ids "$all_root"
expect_recorded "list after a change: no supplementary groups" l groups ""

run tavik -q -l
expect_recorded "query alone runs with the caller's real and effective ids" q ids "$all_caller"
expect_recorded "list alone runs with the caller's real and effective ids" l ids "$all_caller"
unset sandbox_groups

# Started by a root process that took CAP_SETUID out of the bounding set,
# setuid(0) succeeds but changes the effective id alone.
forget_runs
setpriv --reuid 1500 --regid 1500 --clear-groups --bounding-set -setuid -- \
    "$vidselect" -m vesa -q >"$out" 2>"$err"
status=$?
expect_status "a switch to root that stops half-way: status" 1
expect_stderr "a switch to root that stops half-way: said once" $'vidselect: cannot become the superuser completely\n'
expect_runs "a switch to root that stops half-way: nothing runs"

# A drop to the caller that fails, as when a security module refuses it,
# that claims success and changes nothing, or that keeps root's
# capabilities: the launch helper's filter makes setresuid fail with EPERM,
# or return 0, for the tool, or the helper, as root, sets
# SECBIT_NO_SETUID_FIXUP (4), under which the ids change alone.
for starter in "--deny setresuid:EPERM" "--deny setresuid:0" "--securebits 4"; do
    forget_runs
    # shellcheck disable=SC2086 # an option and its value
    "$launch" $starter --drop-to 1500:1500 "$vidselect" -q >"$out" 2>"$err"
    status=$?
    expect_status "a drop to the caller that fails ($starter): status" 1
    expect_stderr "a drop to the caller that fails ($starter): said once" \
        $'vidselect: cannot give up the superuser\'s rights completely\n'
    expect_runs "a drop to the caller that fails ($starter): nothing runs"
done

# Dash gives up an effective id that differs from the real one, and so
# would hide a listing or query that still holds root's; not every shell
# does. With one that keeps it at /bin/sh (the sandbox's /usr is its own),
# the tool must have given root up itself.
rm /usr/bin/sh
install -m 0755 "$helpers/privileged_shell" /usr/bin/sh
run tavik -q -l
expect_recorded "a shell that keeps root's effective id: the query alone runs wholly as the caller" \
    q ids "$all_caller"
expect_recorded "and so does the listing alone" l ids "$all_caller"
expect_status "a listing and query alone succeed as the caller" 0
run tavik -m vesa -q
expect_recorded "a shell that keeps root's effective id: the change still runs as root" m ids "$all_root"
expect_recorded "and so does the query after it" q ids "$all_root"
ln -sf dash /usr/bin/sh

chmod 0755 "$vidselect"
run tavik -m vesa -q
expect_status "not set-user-ID: the change still runs" 0
expect_stderr "not set-user-ID: the failed raise is quiet" ""
expect_recorded "not set-user-ID: the change runs as the caller" m ids "$all_caller"
expect_recorded "not set-user-ID: so does the query" q ids "$all_caller"
run_after tavik "renice -n 19 -p \$\$ >/dev/null; echo 1000 >/proc/self/oom_score_adj" -m vesa
expect_status "not set-user-ID: a caller's own nice and out-of-memory score stop no change" 0
expect_recorded "not set-user-ID: and are the caller's to keep" m niceness 19

finish
