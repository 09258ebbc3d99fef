# shellcheck shell=bash
# The tool with the stand-ins instead of the recorder: the whole round of a
# service visit, as the demo shows it, and the configurator's own promises
# (only supported drivers, a snippet every user can read, a failed or
# interrupted change leaves the previous one in place and nothing else, no
# other account can hold up a change, no change waits long for another or
# stops holding the lock, only a directory root alone may write to is
# written into).
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

install_with_standins
modules=$sandbox_drivers
snippet=$sandbox_x_config_dir/20-dispconfig.conf
readonly lock_file=/run/dispconfig.lock
for driver in vesa modesetting fbdev; do
    : >"$modules/${driver}_drv.so"
done
: >"$modules/README"

# expect_only_snippet DESCRIPTION: the snippet directory holds the snippet
# and nothing else.
expect_only_snippet() {
    expect_text "$1" "the directory's entries" "$(ls -A "$sandbox_x_config_dir")" "${snippet##*/}"
}

run tavik -l
expect_stdout "the supported drivers, sorted" $'fbdev\nmodesetting\nvesa\n'
expect_status "listing succeeds" 0

run tavik -q
expect_stdout "no default yet" $'No default graphics driver is set; the X server chooses one when it starts.\n'

run_after tavik "umask 077" -q -m fbdev
expect_status "a change succeeds" 0
expect_stdout "the change is reported, then the new default" \
    $'Default graphics driver set to fbdev.\nIt takes effect when the X server restarts (<ctrl><alt><Backspace> or a reboot).\nDefault graphics driver: fbdev\n'
mode=$(stat -c '%a %U' "$snippet")
if [[ $mode == "644 root" ]]; then pass; else fail "the snippet is root's and readable by all, whatever the umask" "$mode"; fi
mode=$(stat -c '%F %a %U' "$lock_file")
if [[ $mode == "regular empty file 600 root" ]]; then pass; else fail "the lock is a file only root can open" "$mode"; fi

run tavik -m nvidia
expect_status "an unsupported driver fails" 1
expect_stderr "the configurator says why" $'dispconfig: nvidia is not a supported graphics driver\n'
run tavik -q
expect_stdout "an unsupported driver changes nothing" $'Default graphics driver: fbdev\n'

run_after tavik "ulimit -S -f 0" -m vesa
expect_status "the caller's file-size limit does not break a change" 0

# Its messages go to a pipe and /dev/null, which the limit does not cover:
# only the snippet's write meets it, and no signal is meant to kill anything.
before=$(cat "$snippet")
error_text=$( (ulimit -f 0 && exec "$configurator" -o m -d modesetting) 2>&1 >/dev/null)
status=$?
expect_status "a write cut short by the file-size limit fails" 1
expect_text "the configurator says why the write failed" "its message" "$error_text" \
    "dispconfig: cannot write $snippet: File too large"
if [[ $(cat "$snippet") == "$before" ]]; then pass; else fail "a failed change leaves the previous snippet"; fi
expect_only_snippet "a failed change leaves no temporary file"

# Its failure is said after the lock is let go: a report that waits on a
# full pipe nobody reads, as on a terminal stopped with Ctrl-S, holds up
# no other change.
coproc unread { exec sleep 600; }
unread_pid=$!
exec {full}>&"${unread[1]}" # a subshell does not get the coprocess's own
head -c 65536 /dev/zero >&"$full"
(ulimit -f 0 && exec "$configurator" -o m -d modesetting) 2>&"$full" >/dev/null &
stalled_change=$!
for ((tries = 0; tries < 100; ++tries)); do
    [[ $(cut -d' ' -f1 "/proc/$stalled_change/syscall" 2>/dev/null) == 1 ]] && break # write
    sleep 0.1
done
timeout -k 5 20 "$configurator" -o m -d modesetting >/dev/null 2>"$err"
status=$?
if ((status == 0)) && kill -0 "$stalled_change" 2>/dev/null; then pass; else
    fail "a change stalled while it reports a failure holds up no other change" "status $status" "$(shown "$err")"
fi
kill "$unread_pid"
exec {full}>&-
wait "$stalled_change"

# A change killed outright can leave its temporary file; the next one
# clears it.
install -m 0600 /dev/null "$sandbox_x_config_dir/.20-dispconfig.conf.Ab3xYz"
run tavik -m fbdev
expect_status "a change after a killed one succeeds" 0
expect_only_snippet "a change clears what a killed one left"

# A lock file others may open is one they may hold: refused, not waited on.
chmod 0644 "$lock_file"
run tavik -m vesa
expect_status "a change refuses a lock file others may open" 1
expect_stderr "the configurator says which lock it refused" \
    "dispconfig: $lock_file is not a regular file only root may open"$'\n'
chmod 0600 "$lock_file"

# hold_every_lock READY: takes every lock the calling account can take
# under the snippet directory and /run, writes how many to READY, then
# holds them until killed, or for ten minutes at most; its process id is in
# READY.pid from the start. Run by the other account's own shell.
# shellcheck disable=SC2317
hold_every_lock() {
    local path fd held=0
    echo "$$" >"$1.pid"
    while IFS= read -r -d '' path; do
        if exec {fd}<"$path" && flock -n "$fd"; then
            held=$((held + 1))
        fi
    done < <(find "$sandbox_x_config_dir" /run -xdev \( -type f -o -type d \) -readable -print0 2>/dev/null)
    echo "$held" >"$1.part"
    mv "$1.part" "$1"
    exec sleep 600
} 2>/dev/null
# For the shells of timeout and of the other account.
export -f hold_every_lock sandbox_as
export sandbox_x_config_dir

ready=$sandbox_scratch/locks-held
# shellcheck disable=SC2016 # for that shell to expand
sandbox_as alice bash -c 'hold_every_lock "$0"' "$ready" 2>/dev/null &
holder=$!
for _ in {1..200}; do
    [[ -e $ready ]] && break
    sleep 0.05
done
if (($(cat "$ready" 2>/dev/null || echo 0) > 0)); then
    pass
    # A regression would wait on another account's lock for as long as it
    # holds it; timeout makes that a failure rather than a hang.
    timeout -k 5 30 bash -c 'sandbox_as tavik "$@"' bash "$vidselect" -m modesetting >"$out" 2>"$err"
    status=$?
    expect_status "another account's locks do not hold up a change" 0
else
    fail "another account takes the locks it can"
fi
kill "$(cat "$ready.pid")"
wait "$holder" 2>/dev/null

# Interrupted from the terminal the moment it creates its temporary file,
# a change leaves the old snippet or the new one, whole, and nothing else;
# it exits 0 only with the new one in place. Each run is a process group of
# its own, as a terminal's foreground job is, and gets the terminal's
# signal there; the run is over only when its whole group is, as the
# configurator may outlive the shell vidselect started it from.
interrupter=$standins_build/tests/interrupt_on_open
declare -A snippet_of
for driver in vesa fbdev; do
    run tavik -m "$driver"
    snippet_of[$driver]=$sandbox_scratch/snippet-$driver
    cp "$snippet" "${snippet_of[$driver]}"
done
broken=()
old=fbdev
for run_number in {1..30}; do
    if ((run_number % 2)); then new=vesa signal=INT; else new=fbdev signal=QUIT; fi
    coproc interrupt {
        timeout 10 "$interrupter" "$sandbox_x_config_dir" .20-dispconfig.conf. "$(kill -l "$signal")" \
            2>"$sandbox_scratch/interrupter-errors"
    }
    interrupter_pid=$!
    read -r -t 10 _ <&"${interrupt[0]}"
    timeout -k 5 20 bash -c 'sandbox_as tavik setsid -w "$@"' bash "$vidselect" -m "$new" >"$out" 2>"$err"
    status=$?
    wait "$interrupter_pid"
    interrupted=$?
    entries=$(find "$sandbox_x_config_dir" -mindepth 1 -printf '%f ' | head -c 200)
    if ((interrupted != 0)); then
        broken+=("run $run_number: not interrupted (status $interrupted, the change's $status)"
            "$(cat "$sandbox_scratch/interrupter-errors" "$err")")
        break
    elif [[ $entries != "${snippet##*/} " ]]; then
        broken+=("run $run_number (SIG$signal, status $status) left: $entries")
    elif cmp -s "$snippet" "${snippet_of[$new]}"; then
        old=$new
    elif ((status == 0)) || ! cmp -s "$snippet" "${snippet_of[$old]}"; then
        broken+=("run $run_number (SIG$signal, status $status): the snippet is neither the new one nor the old")
    fi
done
if ((${#broken[@]} == 0)); then pass; else
    fail "an interrupted change leaves one whole snippet and nothing else, and says so" "${broken[@]:0:5}"
fi

# A role line or a snippet needs no big buffer on the stack: a query, which
# keeps the caller's limits, works under a small stack.
run_after tavik "ulimit -s 60" -q
expect_status "a query under a small stack succeeds" 0
expect_stdout "a query under a small stack reads the snippet" "Default graphics driver: $old"$'\n'

# A change waits a few seconds for the lock, not for as long as whoever
# holds it likes: held by a root process, the lock makes the tool's change
# and root's own give up, say why and change nothing. timeout turns a
# regression, a wait without end, into a failure.
readonly busy_text=$'dispconfig: another change is in progress; try again later\n'
before=$(cat "$snippet")
coproc lock_holder { exec {held}<"$lock_file" && flock "$held" && echo locked && exec sleep 600; }
lock_holder_pid=$!
read -r -t 10 _ <&"${lock_holder[0]}"
timeout -k 5 20 bash -c 'sandbox_as tavik "$@"' bash "$vidselect" -m modesetting >"$out" 2>"$err"
status=$?
expect_status "a change gives up on a lock held too long" 1
expect_stderr "the configurator says another change is in progress" "$busy_text"
timeout -k 5 20 "$configurator" -o m -d modesetting >"$out" 2>"$err"
status=$?
expect_status "root's own change gives up too" 1
expect_stderr "and says so too" "$busy_text"
if [[ $(cat "$snippet") == "$before" ]]; then pass; else fail "a change that gave up leaves the previous snippet"; fi
expect_only_snippet "a change that gave up leaves nothing else"
kill "$lock_holder_pid"
wait "$lock_holder_pid" 2>/dev/null
run tavik -m modesetting
expect_status "once the lock is let go, a change goes through" 0

# Stopped from its terminal while it holds the lock (Ctrl-Z, or a read or
# write of a background job's), a change still finishes and lets the lock
# go before it stops, and goes on when continued. Each runs in a process
# group of its own that timeout makes, whose parent, this shell, is in the
# same session, as a shell's job is: the kernel discards a stop signal sent
# to an orphaned group, which would prove nothing.
broken=()
for signal in TSTP TTIN TTOU; do
    coproc interrupt {
        timeout 10 "$interrupter" "$sandbox_x_config_dir" .20-dispconfig.conf. "$(kill -l "$signal")" \
            2>"$sandbox_scratch/interrupter-errors"
    }
    interrupter_pid=$!
    read -r -t 10 _ <&"${interrupt[0]}"
    timeout -k 5 20 bash -c 'sandbox_as tavik "$@"' bash "$vidselect" -m fbdev >"$out" 2>"$err" &
    stopped_change=$!
    wait "$interrupter_pid"
    interrupted=$?
    # Stopped now, the first change must no longer hold the lock.
    timeout -k 5 20 bash -c 'sandbox_as tavik "$@"' bash "$vidselect" -m vesa \
        >"$sandbox_scratch/next-stdout" 2>"$sandbox_scratch/next-stderr"
    next_status=$?
    kill -CONT -- "-$stopped_change"
    wait "$stopped_change"
    status=$?
    if ((interrupted != 0)); then
        broken+=("SIG$signal: not caught (status $interrupted)" "$(cat "$sandbox_scratch/interrupter-errors")")
    elif ((next_status != 0)); then
        broken+=("SIG$signal: the next change failed (status $next_status)" "$(shown "$sandbox_scratch/next-stderr")")
    elif ((status != 0)); then
        broken+=("SIG$signal: the stopped change did not finish (status $status)" "$(shown "$err")")
    fi
done
if ((${#broken[@]} == 0)); then pass; else
    fail "a change stopped while it holds the lock lets it go, then finishes" "${broken[@]}"
fi
expect_only_snippet "stopped changes leave nothing else"

# A configuration directory another account may write to, or one reached
# through a symbolic link, is not one root writes the X server's
# configuration into.
before=$(cat "$snippet")
for setup in "chown tavik" "chmod 0775" "chmod 1777" "ln -s"; do
    if [[ $setup == "ln -s" ]]; then
        mv "$sandbox_x_config_dir" "$sandbox_x_config_dir.real"
        ln -s "${sandbox_x_config_dir##*/}.real" "$sandbox_x_config_dir"
    else
        $setup "$sandbox_x_config_dir"
    fi
    run tavik -m fbdev
    expect_status "a change refuses the directory after $setup" 1
    expect_stderr "the configurator says which directory it refused after $setup" \
        "dispconfig: $sandbox_x_config_dir is not a directory only root may write to"$'\n'
    if [[ $(cat "$snippet") == "$before" ]]; then pass; else fail "a refused directory is left as it was after $setup"; fi
    expect_only_snippet "nothing is written into a refused directory after $setup"
    if [[ $setup == "ln -s" ]]; then
        rm "$sandbox_x_config_dir"
        mv "$sandbox_x_config_dir.real" "$sandbox_x_config_dir"
    else
        chown root "$sandbox_x_config_dir"
        chmod 0755 "$sandbox_x_config_dir"
    fi
done

# Made afresh under a tight umask, the directory is still one the X server
# and every query can read.
rm -r "$sandbox_x_config_dir"
(umask 077 && exec "$configurator" -o m -d fbdev) >"$out" 2>"$err"
status=$?
expect_status "a change makes the configuration directory" 0
mode=$(stat -c '%F %a %U' "$sandbox_x_config_dir")
if [[ $mode == "directory 755 root" ]]; then pass; else
    fail "the directory is made readable by all, whatever the umask" "$mode"
fi
run tavik -q
expect_stdout "a query reads the snippet in the new directory" $'Default graphics driver: fbdev\n'

run alice -l
expect_stdout "a denied account sees only the denial" "$denied_privileges"

finish
