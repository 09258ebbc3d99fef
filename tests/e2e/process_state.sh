# shellcheck shell=bash
# The configurator runs as root for the caller, so it starts from a fixed,
# clean state, whatever the caller's environment, umask, descriptors,
# signals, limits and scheduling.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

readonly safe_path=PATH=/usr/sbin:/usr/bin:/sbin:/bin

run_in_env() { # ENTRY...: runs "vidselect -m vesa -q" with exactly this environment
    forget_runs
    sandbox_as tavik env -i "$@" "$vidselect" -m vesa -q >"$out" 2>"$err"
    status=$?
}

run_in_env PATH=/tmp/evil LD_PRELOAD=/tmp/evil.so IFS=x ENV=/tmp/rc BASH_ENV=/tmp/rc HOME=/root \
    SHELLOPTS=xtrace TERM=xterm-256color LANG=C.UTF-8 LC_MESSAGES=de_DE LC_ALL=../../tmp \
    LANGUAGE=%n%n TERMINFO=/tmp NLSPATH=/tmp/%N
# The shell adds PWD, and may reorder what it passes on.
expect_environment() { # DESCRIPTION OP ENTRY...
    expect_text "$1" "env on $2" "$(recorded "$2" env | sort)" "$(printf '%s\n' "${@:3}" PWD=/ | sort)"
}
expect_environment "the change sees only the fixed PATH and the harmless locale and terminal" m \
    "$safe_path" TERM=xterm-256color LANG=C.UTF-8 LC_MESSAGES=de_DE
expect_environment "so does the query" q "$safe_path" TERM=xterm-256color LANG=C.UTF-8 LC_MESSAGES=de_DE
expect_status "a hostile environment changes nothing else" 0

run_in_env
expect_environment "an empty environment still gets the fixed PATH" m "$safe_path"

# Made-up locale names, as many as exec takes, are all dropped, and real
# categories before, among and after them still come through.
made_up=()
for ((index = 0; index < 40000; ++index)); do
    made_up+=("LC_X$index=x")
done
run_in_env LC_TIME=C "${made_up[@]:0:20000}" LC_PAPER=en_GB LANG=C.UTF-8 "${made_up[@]:20000}" \
    LC_IDENTIFICATION=C
expect_environment "of 40,000 made-up locale names, none reaches the change" m \
    "$safe_path" LC_TIME=C LC_PAPER=en_GB LANG=C.UTF-8 LC_IDENTIFICATION=C
expect_status "nor stops it" 0

run_after tavik "cd $sandbox_scratch" -m vesa
expect_recorded "the configurator starts in /, not in the caller's directory" m cwd /

forget_runs
sandbox_as tavik env -i POSIXLY_CORRECT=1 "$vidselect" stray -l >"$out" 2>"$err"
expect_runs "the caller's POSIXLY_CORRECT does not change parsing" l

# Root's files get the modes root chooses; a query alone runs as the
# caller, who may only be made stricter.
for mask in 000 002 077 027; do
    run_after tavik "umask $mask" -m vesa
    expect_recorded "umask $mask becomes exactly 022 for the change" m umask 0022
done
for mask in 000:0022 077:0077; do
    run_after tavik "umask ${mask%:*}" -q
    expect_recorded "umask ${mask%:*} becomes ${mask#*:} for a query alone" q umask "${mask#*:}"
done

run_after tavik "exec 3</dev/null 7>$sandbox_scratch/leak 200<$vidselect" -m vesa -l
expect_recorded "no descriptor above 2 reaches the change" m fds "0 1 2"
expect_recorded "nor the listing" l fds "0 1 2"

# Before Linux 5.9 there is no close_range, and older container profiles
# refuse every call they do not know with EPERM: the descriptors are closed
# from the listing of /proc/self/fd instead. Root's seccomp filter refuses
# close_range so, then drops to the service account, whose shell leaves the
# same descriptors open, for a change and a listing after it, and for a
# query alone.
for error in ENOSYS EPERM; do
    for request in "m l:-m vesa -l" "q:-q"; do
        forget_runs
        # shellcheck disable=SC2086 # the request's words
        "$launch" --deny close_range:$error setpriv --reuid tavik --regid tavik --clear-groups -- \
            bash -c "exec 3</dev/null 7>$sandbox_scratch/leak 200<$vidselect; exec \"\$0\" \"\$@\"" \
            "$vidselect" ${request#*:} >"$out" 2>"$err"
        status=$?
        expect_status "close_range refused with $error stops nothing (${request#*:})" 0
        for operation in ${request%%:*}; do
            expect_recorded "close_range refused with $error: no descriptor above 2 reaches $operation" \
                "$operation" fds "0 1 2"
        done
    done
done

run_after tavik "exec <&- >&- 2>&-" -m vesa -q
expect_recorded "closed standard descriptors are open again for the configurator" m fds "0 1 2"
expect_runs "closed standard descriptors stop nothing" m q

# Under emulation, qemu-user ignores a few host signals of its own, which
# a child it execs inherits whatever the emulated tool does; the hostile
# run must then match a plain one.
expected_ignored=
if [[ -n $emulator ]]; then
    run tavik -m vesa
    expected_ignored=$(recorded m ignored)
fi
run_launched tavik --ignore 1,2,3,13,15,17 --block 2,10,15,17 -- -m vesa -l
expect_recorded "ignored signals are back to default for the change" m ignored "$expected_ignored"
expect_recorded "the signal mask is empty for the change" m blocked ""
expect_recorded "ignored signals are back to default for the listing" l ignored "$expected_ignored"
expect_recorded "the signal mask is empty for the listing" l blocked ""
expect_status "an ignored SIGCHLD does not turn success into failure" 0

run_after tavik "ulimit -S -f 8" -m vesa -q
expect_recorded "the caller's soft file-size limit is lifted for the change" m fsize unlimited
expect_recorded "and for the query" q fsize unlimited

# A hard limit goes only where root may raise limits: some containers take
# that right from root itself.
run_after tavik "ulimit -f 8" -m vesa
bounding=$(sed -n 's/^CapBnd:\t//p' /proc/self/status)
if (((0x$bounding >> 24) & 1)); then expected=unlimited; else expected=8192; fi
expect_recorded "the caller's hard file-size limit is raised as far as the system allows" m fsize "$expected"
expect_status "a file-size limit stops nothing" 0
run_after tavik "ulimit -f 16 && ulimit -S -f 8" -q
expect_recorded "a query alone keeps the caller's file-size limit" q fsize 8192
expect_recorded "and the hard one an administrator may have set" q fsize_hard 16384

# The caller's limits on time, memory and descriptors could stop a root
# change half-way through its writes, and its core limit would let a
# crashing root configurator leave its memory on disk. A query alone runs
# as the caller, and keeps them.
may_raise_hard=$(((0x$bounding >> 24) & 1))
# allowed ULIMIT-OPTION UNIT WANTED: WANTED, a count or "unlimited", or the
# caller's hard limit in UNITs where that is lower and root may not raise it.
allowed() {
    local hard
    hard=$(ulimit -H "$1")
    if ((may_raise_hard)) || [[ $hard == unlimited ]]; then
        echo "$3"
    elif [[ $3 == unlimited ]] || ((hard * $2 < $3)); then
        echo $((hard * $2))
    else
        echo "$3"
    fi
}
expect_at_least() { # DESCRIPTION OP KEY MINIMUM
    local actual
    actual=$(recorded "$2" "$3")
    if [[ $actual == unlimited || ($actual =~ ^[0-9]+$ && $actual -ge $4) ]]; then
        pass
    else
        fail "$1" "$3 on $2: '$actual'" "expected at least $4"
    fi
}
low_limits="ulimit -S -t 5 -S -n 64 -S -c $(ulimit -H -c)"
if [[ -n $emulator ]]; then
    echo "left out: address-space, data and stack limits, which qemu-user keeps to itself"
elif sanitized_build; then
    echo "left out: address-space and data limits, too low for AddressSanitizer's shadow memory"
    low_limits+=" -S -s 1024"
else
    low_limits+=" -S -v 262144 -S -d 262144 -S -s 1024"
fi
lowered() { [[ "$low_limits " == *" $1 "* ]]; }

run_after tavik "$low_limits" -m vesa
expect_status "low limits stop no change" 0
expect_recorded "the change has no CPU time limit" m cpu "$(allowed -t 1 unlimited)"
expect_at_least "the change may open at least 1024 files" m nofile "$(allowed -n 1 1024)"
expect_recorded "the change dumps no core" m core 0
if lowered -v; then
    expect_recorded "the change has no address-space limit" m as "$(allowed -v 1024 unlimited)"
fi
if lowered -d; then
    expect_recorded "the change has no data limit" m data "$(allowed -d 1024 unlimited)"
fi
if lowered -s; then
    expect_at_least "the change has a stack of at least 8 MiB" m stack "$(allowed -s 1024 8388608)"
fi

run_after tavik "$low_limits" -q
expect_status "a query alone works under low limits" 0
expect_recorded "a query alone keeps the caller's CPU time limit" q cpu 5
expect_recorded "and open-file limit" q nofile 64
if lowered -v; then
    expect_recorded "and address-space limit" q as $((262144 * 1024))
fi

# Interval timers armed by the caller would end vidselect half-way: here
# once the change has run, before the query asked for with it. They go in
# the first reset; a change that outlasts them and the query after it both
# run. (Not under the hostile caller's idle policy below, which could
# starve vidselect's start until the real-time timer fires.)
behave m "sleep 2"
run_launched tavik --timers 1000 -- -m vesa -q
behave m
expect_status "the caller's interval timers end no run" 0
expect_runs "the change and the query after it run" m q

# A caller that would starve a root change holding the configurator's
# lock, so that every other change waits, or mislead it: the lowest CPU
# and I/O priorities, one CPU, memory bound to one node, no huge pages,
# first in line for the out-of-memory killer, a personality under which
# uname lies, a session keyring of its own, and low limits on what a change
# may lock, queue, fork and signal. The change starts from the state a
# system service gets; a query alone runs as the caller, in the caller's.
online_cpus=$(cat /sys/devices/system/cpu/online)
hostile_launch=(nice -n 19 chrt --idle 0 ionice -c 3)
if (($(getconf _NPROCESSORS_ONLN) >= 2)); then
    hostile_launch+=(taskset -c 0)
    caller_cpus=0
else
    echo "left out: one CPU for the caller, on a machine with only one"
    caller_cpus=$online_cpus
fi
if [[ -n $emulator ]]; then
    echo "left out: the personality, which qemu-user keeps to itself"
else
    hostile_launch+=(setarch linux32 --uname-2.6)
fi
hostile_limits="ulimit -S -l 0 -S -i 0 -S -q 0 -S -u 64 -S -x 0 -S -m 1024 -S -R 1000"
# KSM merging takes no privilege, from Linux 6.4 on.
hostile_options=(--timer-slack 100000000 --no-thp --session-keyring caller)
if [[ -n $emulator ]]; then
    echo "left out: a bound memory policy, which qemu-user, making no memory-policy call, cannot undo"
else
    hostile_options+=(--bind-memory)
fi
may_merge=0
if sanitized_build; then
    echo "left out: KSM merging, whose undoing walks AddressSanitizer's shadow memory page by page"
elif ! "$launch" --merge-memory true 2>/dev/null; then
    echo "left out: KSM merging, which this kernel does not offer a process"
else
    hostile_options+=(--merge-memory)
    may_merge=1
fi
run_hostile() { # ARG...
    forget_runs
    # The launch helper first, started by setpriv itself: the build tree may
    # lie in a directory only root may enter, such as /root.
    sandbox_as tavik "$launch" "${hostile_options[@]}" \
        bash -c "umask 077; echo 1000 >/proc/self/oom_score_adj; $hostile_limits; exec \"\$@\"" \
        bash "${hostile_launch[@]}" "$vidselect" "$@" >"$out" 2>"$err"
    status=$?
}

run_hostile -m vesa
expect_status "a hostile scheduling state stops no change" 0
expect_stderr "and draws no complaint" ""
expect_recorded "the change runs at nice 0" m niceness 0
expect_recorded "under the ordinary scheduling policy" m policy other
expect_text "with the default I/O priority" "ioprio class on m" "$(recorded m ioprio | cut -d' ' -f1)" none
if [[ -z $emulator ]]; then
    expect_recorded "with the plain Linux personality" m personality 0x0
fi
expect_recorded "with an out-of-memory score of 0" m oom_score_adj 0
expect_recorded "with the kernel's default timer slack" m timerslack 50000
if [[ -n $emulator ]]; then
    echo "left out: the memory policy, huge pages and session keyring, which qemu-user does not pass on"
else
    expect_recorded "with the default memory policy" m mempolicy default
    expect_recorded "with transparent huge pages allowed" m thp_disable 0
    expect_recorded "with a session keyring of its own, root's" m session_keyring "0 _ses"
    if ((may_merge)); then
        expect_recorded "with no memory merged by KSM" m memory_merge 0
    fi
fi
# The machine itself may keep this test to fewer CPUs than it has online;
# the tool cannot be asked for more.
if [[ $(sed -n 's/^Cpus_allowed_list:\t//p' /proc/self/status) == "$online_cpus" ]]; then
    expect_recorded "on every CPU online" m cpus "$online_cpus"
else
    echo "left out: every CPU online, which this test may not use itself"
fi
expect_recorded "the change may lock the kernel's default of 8 MiB" m memlock "$(allowed -l 1024 8388608)"
expect_recorded "and queue the kernel's default of 800 KiB of messages" m msgqueue "$(allowed -q 1 819200)"
expect_recorded "and has no pending-signal limit" m sigpending "$(allowed -i 1 unlimited)"
expect_recorded "nor a process limit" m nproc "$(allowed -u 1 unlimited)"
expect_recorded "nor a file-lock limit" m locks "$(allowed -x 1 unlimited)"
expect_recorded "nor a resident-memory limit" m rss "$(allowed -m 1024 unlimited)"
expect_recorded "nor a real-time CPU time limit" m rttime "$(allowed -R 1 unlimited)"
expect_recorded "nor a nice value above the ordinary" m nice 0
expect_recorded "nor a real-time priority" m rtprio 0
# The hard limits are the table's too, as far as root may raise them.
for limit in cpu:t:1:unlimited fsize:f:1024:unlimited data:d:1024:unlimited stack:s:1024:unlimited \
    core:c:1024:0 rss:m:1024:unlimited nproc:u:1:unlimited nofile:n:1:4096 memlock:l:1024:8388608 \
    as:v:1024:unlimited locks:x:1:unlimited sigpending:i:1:unlimited msgqueue:q:1:819200 nice:e:1:0 \
    rtprio:r:1:0 rttime:R:1:unlimited; do
    IFS=: read -r key option unit wanted <<<"$limit"
    expect_recorded "the change's hard $key limit" m "${key}_hard" "$(allowed "-$option" "$unit" "$wanted")"
done

run_hostile -q
expect_status "a query alone runs in a hostile scheduling state" 0
expect_recorded "a query alone keeps the caller's umask" q umask 0077
expect_recorded "and nice value" q niceness 19
expect_recorded "and scheduling policy" q policy idle
expect_text "and I/O priority" "ioprio class on q" "$(recorded q ioprio | cut -d' ' -f1)" idle
if [[ -z $emulator ]]; then
    expect_recorded "and personality" q personality 0x20008
    expect_recorded "and memory policy" q mempolicy bind
fi
expect_recorded "and out-of-memory score" q oom_score_adj 1000
expect_recorded "and timer slack" q timerslack 100000000
expect_recorded "and transparent huge pages off" q thp_disable 1
expect_recorded "and session keyring" q session_keyring "1500 caller"
expect_recorded "and CPUs" q cpus "$caller_cpus"
expect_recorded "and locked-memory limit" q memlock 0
expect_recorded "and process limit" q nproc 64
if ((may_merge)); then
    expect_recorded "and KSM merging" q memory_merge 1
fi

# Exec-restriction securebits take no privilege from Linux 6.14 on, and ask
# only an interpreter that honours them to restrict itself; the system's
# shell does not, and the change runs.
if sandbox_as tavik "$launch" --securebits 0xf00 true 2>/dev/null; then
    run_launched tavik --securebits 0xf00 -- -m vesa -q
    expect_status "the caller's exec-restriction securebits stop no change" 0
    expect_runs "the change and the query run under them" m q
else
    echo "left out: the exec-restriction securebits, which this kernel keeps to privileged processes"
fi

# Each system call a reset makes, refused by root's filter as a container's
# profile or a service manager's may refuse it: where the state the starter
# hands on is already what the reset would make it, the change runs; where
# the starter set it otherwise first (STATE, a command that wraps the rest;
# "launch" is the helper), it stops, naming the state, and nothing runs. A
# STATE of "-": the refusal alone decides. Every run starts in /, with
# default signal dispositions, at nice 0, whatever this suite started with.
declare -A error_text=([EPERM]="Operation not permitted" [EACCES]="Permission denied"
    [ENOSYS]="Function not implemented")
run_refused() { # CALLS:ERROR [STATE...]
    local refusal=$1
    shift
    forget_runs
    env -C / --default-signal nice -n "$((-$(nice)))" "$@" \
        "$launch" --deny "$refusal" --drop-to 1500:1500 "$vidselect" -m vesa -q >"$out" 2>"$err"
    status=$?
}
expect_refusal_outcome() { # WHAT STEP ERROR: STEP empty when the change runs
    if [[ -z $2 ]]; then
        expect_status "$1: the change runs" 0
        expect_stderr "$1: without a complaint" ""
        expect_runs "$1: the change and the query run" m q
    else
        expect_status "$1: status" 1
        expect_stderr "$1: names the state" "vidselect: cannot $2: ${error_text[$3]}"$'\n'
        expect_runs "$1: nothing runs"
    fi
}
allowed_cpus=$(sed -n 's/^Cpus_allowed_list:\t//p' /proc/self/status)
while IFS='|' read -r calls error state step; do
    read -ra starter <<<"$state"
    if [[ ${starter[0]} == launch ]]; then starter[0]=$launch; fi
    if [[ -n $emulator ]]; then
        echo "left out: refused calls, which qemu-user makes for itself too"
        break
    elif [[ $calls == sched_setaffinity ]] &&
        { (($(getconf _NPROCESSORS_ONLN) < 2)) || [[ $allowed_cpus != "$online_cpus" ]]; }; then
        echo "left out: sched_setaffinity refused, which needs two CPUs online, both this test's"
        continue
    elif [[ $state == *--merge-memory* ]] && ((!may_merge)); then
        echo "left out: prctl refused with KSM merging on, as KSM merging above"
        continue
    elif sanitized_build && [[ $calls =~ rt_sigaction|rt_sigprocmask|prlimit64 ]]; then
        echo "left out: $calls refused, without which AddressSanitizer's runtime cannot start"
        continue
    fi
    what="$calls refused with $error"
    if [[ $state == - ]]; then
        starter=()
    else
        run_refused "$calls:$error"
        expect_refusal_outcome "$what, in the default state" "" "$error"
        what+=", after $state"
    fi
    run_refused "$calls:$error" "${starter[@]}"
    expect_refusal_outcome "$what" "$step" "$error"
done <<'EOF'
setitimer|EPERM|launch --timers 100000|disarm the interval timers
rt_sigaction|EPERM|launch --ignore 2|reset the signal dispositions
rt_sigprocmask|ENOSYS|launch --block 10|unblock signals
chdir|EACCES|env -C /tmp|change to the root directory
prlimit64,setrlimit|EPERM|prlimit --cpu=5:unlimited|raise the CPU time limit
sched_setscheduler|EPERM|chrt --idle 0|set the ordinary scheduling policy
setpriority|EACCES|nice -n 19|set the scheduling priority
ioprio_set|EPERM|ionice -c 3|set the default I/O priority
personality|ENOSYS|setarch linux32 --uname-2.6|set the Linux personality
prctl|EPERM|launch --timer-slack 100000000|set the default timer slack
sched_setaffinity|EPERM|taskset -c 0|allow every CPU
set_mempolicy|ENOSYS|launch --bind-memory|set the default memory policy
set_mempolicy,get_mempolicy,mbind|EPERM|launch --bind-memory|set the default memory policy
prctl|EPERM|launch --no-thp|allow transparent huge pages
prctl|EPERM|launch --merge-memory|turn off memory merging
keyctl|EPERM|-|join a session keyring of its own
keyctl,add_key,request_key|EPERM|launch --session-keyring starter|
set_mempolicy,get_mempolicy,mbind,keyctl,add_key,request_key,close_range|EPERM|setpriv --bounding-set -sys_nice,-sys_resource --|
EOF

# The access gate runs code that is not ours as root, the role library and
# the name service behind getpwuid: the caller's descriptors and
# environment must not reach it. What it leaves behind is cleaned up too.
install -m 0755 "$helpers/leaky/libvorn.so" /usr/local/lib/libvorn.so
ldconfig
forget_runs
rm -f "$record/role-library"
sandbox_as tavik env -i TERM=vt100 BASH_ENV=/tmp/rc IFS=x PATH=/tmp/evil /bin/bash -c \
    "exec 3</dev/null 7>$sandbox_scratch/leak 200<$vidselect; exec \"\$0\" \"\$@\"" \
    "$vidselect" -m vesa -q >"$out" 2>"$err"
status=$?
expect_status "a misbehaving role library still lets the service account in" 0
expect_recorded "no descriptor of the caller's reaches the role library" role-library fds "0 1 2"
role_library_environment=$(recorded role-library env)
if [[ $role_library_environment == "$safe_path"$'\nTERM=vt100' ]]; then
    pass
else
    fail "nor any environment entry the tool does not keep" "env of the role library:" "$role_library_environment"
fi
for operation in m q; do
    expect_recorded "no descriptor the role library left open reaches $operation" $operation fds "0 1 2"
    expect_recorded "no signal the role library ignored stays ignored for $operation" \
        $operation ignored "$expected_ignored"
    expect_recorded "no signal the role library blocked stays blocked for $operation" $operation blocked ""
    expect_recorded "the role library's umask does not reach $operation" $operation umask 0022
    expect_environment "the role library's environment entries do not reach $operation" $operation \
        "$safe_path" TERM=vt100
done

finish
