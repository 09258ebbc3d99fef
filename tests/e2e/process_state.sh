# shellcheck shell=bash
# The configurator runs as root for the caller, so it starts from a fixed,
# clean state, whatever the caller's environment, umask, descriptors,
# signals and limits.
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
    local actual expected
    actual=$(recorded "$2" env | sort)
    expected=$(printf '%s\n' "${@:3}" PWD=/ | sort)
    if [[ $actual == "$expected" ]]; then pass; else fail "$1" "env on $2:" "$(head -20 <<<"$actual")"; fi
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

for mask in 000:0022 002:0022 077:0077 027:0027; do
    run_after tavik "umask ${mask%:*}" -m vesa
    expect_recorded "umask ${mask%:*} becomes ${mask#*:}" m umask "${mask#*:}"
done

run_after tavik "exec 3</dev/null 7>$sandbox_scratch/leak 200<$vidselect" -m vesa -l
expect_recorded "no descriptor above 2 reaches the change" m fds "0 1 2"
expect_recorded "nor the listing" l fds "0 1 2"

# Before Linux 5.9 there is no close_range, and the descriptors are closed
# from the listing of /proc/self/fd instead. Root's seccomp filter makes
# close_range fail so, then drops to the service account, whose shell
# leaves the same descriptors open.
forget_runs
"$launch" --deny-close-range setpriv --reuid tavik --regid tavik --clear-groups -- \
    bash -c "exec 3</dev/null 7>$sandbox_scratch/leak 200<$vidselect; exec \"\$0\" \"\$@\"" \
    "$vidselect" -m vesa -l >"$out" 2>"$err"
status=$?
expect_status "a kernel without close_range stops nothing" 0
expect_recorded "without close_range, no descriptor above 2 reaches the change" m fds "0 1 2"
expect_recorded "nor the listing" l fds "0 1 2"

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

# What the access gate's own code leaves behind is cleaned up too.
install -m 0755 "$helpers/leaky/libvorn.so" /usr/local/lib/libvorn.so
ldconfig
forget_runs
sandbox_as tavik env -i TERM=vt100 "$vidselect" -m vesa -q >"$out" 2>"$err"
status=$?
expect_status "a misbehaving role library still lets the service account in" 0
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
