# shellcheck shell=bash
# The set-user-ID binary keeps its hardening: position-independent, stack
# protector, fortified libc calls, full RELRO with immediate binding, and a
# stack that cannot be executed. Stack-clash and control-flow protection
# are built in too, but leave no mark a checker can rely on.
binary=$1
if ! command -v hardening-check >/dev/null; then
    echo "SKIP: hardening-check (Debian's devscripts) is not installed"
    exit 77
fi
failed=0
if ! hardening-check --nocfprotection "$binary"; then
    failed=1
fi
stack=$(readelf -lW "$binary" | awk '$1 == "GNU_STACK" { print $7 }')
if [[ $stack == RW ]]; then
    echo " Non-executable stack: yes"
else
    echo "FAIL: the stack is mapped '$stack', expected RW"
    failed=1
fi
exit $failed
