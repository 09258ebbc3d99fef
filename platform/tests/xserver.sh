# shellcheck shell=bash
# The real X server reads what vidselect had the configurator write: the
# chosen driver is the one the server loads on its next start, and a driver
# that cannot start here is undone with vidselect alone.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"
# shellcheck source=SCRIPTDIR/../scripts/xserver.sh
source "$(dirname "$(readlink -f "$0")")/../scripts/xserver.sh"

missing=$(sandbox_x_server_missing)
if [[ -n $missing ]]; then
    cannot_run "${0##*/} needs a real X server, and these packages are missing: ${missing//$'\n'/ } (scripts/install-deps.sh test installs them)"
fi

# The stand-in configurator in place of the recorder, and the host's real
# driver modules: one that runs without graphics hardware, one that needs a
# DRM device, which the server never gets here.
install_with_standins
sandbox_offer_drivers dummy modesetting || exit

# The end of the server's log, which says why it did not come up.
server_errors() {
    tail -n 10 "$sandbox_x_log"
}

# Whatever the outcome, the server is gone once the restart returns: no
# process has its log open any more.
expect_server_stopped() {
    local fd
    for fd in /proc/[0-9]*/fd/*; do
        if [[ $fd -ef $sandbox_x_log ]]; then
            fail "the X server is stopped after the restart" "$fd is its log"
            return
        fi
    done
    pass
}

expect_in_log() {
    if grep -qF -- "$2" "$sandbox_x_log"; then pass; else fail "$1" "no '$2' in the X server's log"; fi
}

# expect_serving DESCRIPTION: the server came up with dummy and served a
# client on its display.
expect_serving() {
    if sandbox_restart_x_server; then
        pass
    else
        fail "$1" "the X server's log ends:" "$(server_errors)"
    fi
    expect_server_stopped
    expect_in_log "the X server loaded the chosen driver" 'LoadModule: "dummy"'
    expect_in_log "the chosen driver runs the screen" 'DUMMY(0): '
    if grep -q "^name of display: *$sandbox_x_display\$" "$sandbox_x_client_output" \
        && grep -q '^  dimensions: ' "$sandbox_x_client_output"; then
        pass
    else
        fail "a client talks to the display and sees its screen" "xdpyinfo said:" "$(head -5 "$sandbox_x_client_output")"
    fi
}

run tavik -m dummy
expect_status "the service account chooses dummy" 0
expect_serving "the X server comes up with dummy"

run tavik -m modesetting
expect_status "the service account chooses modesetting" 0
if sandbox_restart_x_server; then
    fail "the X server does not come up with modesetting and no DRM device"
else
    pass
fi
expect_server_stopped
expect_in_log "the X server tried the chosen driver" 'LoadModule: "modesetting"'
expect_in_log "its log says why it stopped" 'no screens found'

run tavik -m dummy
expect_status "vidselect alone undoes the bad choice" 0
expect_serving "the X server comes back with dummy"

finish
