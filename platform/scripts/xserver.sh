# shellcheck shell=bash
# The real X server, started in the sandbox (scripts/sandbox.sh) as the
# machine starts it on a restart, for the demo and the end-to-end test. Source
# it after sandbox.sh and call its functions inside the sandbox.
#
# Each start gets namespaces of its own: a private /tmp for its socket and
# lock file, no network (so no other server's abstract socket can answer the
# client), and a process namespace that ends with it, so the server is
# stopped, and nothing of it remains, however the caller ends.

# Any number will do: nothing else can listen in the server's namespaces.
readonly sandbox_x_display=:9
readonly sandbox_x_dir=/run/vidselect-xserver
# Outside the server's private /tmp, so the caller can read them afterwards.
readonly sandbox_x_log=$sandbox_x_dir/Xorg.log
readonly sandbox_x_client_output=$sandbox_x_dir/xdpyinfo

# sandbox_x_server_missing: the Debian packages of the host's X server, its
# headless driver and its client that are not installed, one a line.
sandbox_x_server_missing() {
    command -v Xorg >/dev/null || echo xserver-xorg-core
    # shellcheck disable=SC2154 # sandbox_setup sets it
    [[ -f $sandbox_host_drivers/dummy_drv.so ]] || echo xserver-xorg-video-dummy
    command -v xdpyinfo >/dev/null || echo x11-utils
}

# Runs as the first process of the server's namespaces: lays them out,
# starts the server, waits for it to serve, runs the client, stops it.
sandbox_x_server_session() {
    local display=$1 log=$2 client_output=$3 file dir
    mount -t tmpfs -o mode=1777 vidselect-xserver /tmp
    # Only what the configurator wrote configures the server: no
    # configuration file of the host's, and none of the snippets its
    # packages put beside the configurator's.
    for file in /etc/xorg.conf /usr/etc/X11/xorg.conf* /usr/lib/X11/xorg.conf*; do
        if [[ -f $file ]]; then rm -f "$file"; fi
    done
    # No graphics or input device of the host's either: what comes up does
    # not depend on the machine the test runs on, and a desktop's keyboard
    # and mouse stay out of it.
    for dir in /usr/share/X11/xorg.conf.d /dev/dri /dev/input; do
        if [[ -d $dir ]]; then mount -t tmpfs -o mode=0755 vidselect-xserver "$dir"; fi
    done
    # Shares the console's VT instead of switching to one of its own.
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        Xorg "$display" -novtswitch -sharevts -nolisten tcp -nolisten local -noreset \
        -logfile "$log" </dev/null >/dev/null 2>&1 &
    local server=$! serving=1
    SECONDS=0
    while ((SECONDS < 20)) && kill -0 "$server" 2>/dev/null; do
        if env -i DISPLAY="$display" timeout 5 xdpyinfo >"$client_output" 2>&1; then
            serving=0
            break
        fi
        sleep 0.1
    done
    kill -TERM "$server" 2>/dev/null
    SECONDS=0
    while ((SECONDS < 5)) && kill -0 "$server" 2>/dev/null; do
        sleep 0.1
    done
    # Leaving ends the namespace, and kills whatever of the server is left.
    return $serving
}

# sandbox_restart_x_server: starts the X server as the machine does on a
# restart, reading the snippet directory the configurator writes to, runs
# xdpyinfo against it and stops it. Succeeds when the server came up and
# served the client. The server's log is left in $sandbox_x_log, the client's
# output in $sandbox_x_client_output.
sandbox_restart_x_server() {
    # The session clears configuration files the host's server would read:
    # only ever on the sandbox's overlays.
    if ! sandbox_inside; then
        echo "sandbox: the X server is restarted only inside the sandbox" >&2
        return 1
    fi
    mkdir -p "$sandbox_x_dir"
    rm -f "$sandbox_x_log" "$sandbox_x_client_output"
    # --kill-child: the server's namespace ends with this command, even when
    # the caller is interrupted or the time runs out.
    timeout --foreground --kill-after=5 40 \
        unshare --mount --net --pid --fork --kill-child -- \
        bash -c "$(declare -f sandbox_x_server_session)"' && sandbox_x_server_session "$@"' xserver \
        "$sandbox_x_display" "$sandbox_x_log" "$sandbox_x_client_output"
}
