# The tool with the stand-ins instead of the recorder: the whole round of a
# service visit, as the demo shows it, and the configurator's own promises
# (only supported drivers, a snippet every user can read, a failed change
# leaves the previous one in place).
source "$(dirname "$(readlink -f "$0")")/lib.sh"

# The stand-in configurator in place of the recorder.
install_under_test
modules=/usr/lib/xorg/modules/drivers
snippet=/etc/X11/xorg.conf.d/20-dispconfig.conf
mkdir -p "$modules"
for driver in vesa modesetting fbdev; do
    : >"$modules/${driver}_drv.so"
done
: >"$modules/README"
rm -f "$snippet"

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

run tavik -m nvidia
expect_status "an unsupported driver fails" 1
expect_stderr "the configurator says why" $'dispconfig: nvidia is not a supported graphics driver\n'
run tavik -q
expect_stdout "an unsupported driver changes nothing" $'Default graphics driver: fbdev\n'

run_after tavik "ulimit -S -f 0" -m vesa
expect_status "the caller's file-size limit does not break a change" 0

before=$(cat "$snippet")
(ulimit -f 0 && /opt/qtr/bin/dispconfig -o m -d modesetting) >"$out" 2>"$err"
status=$?
if [[ $status != 0 ]]; then pass; else fail "a write cut short by the file-size limit fails"; fi
if [[ $(cat "$snippet") == "$before" ]]; then pass; else fail "a failed change leaves the previous snippet"; fi
leftovers=$(find /etc/X11/xorg.conf.d -name '.20-dispconfig.conf.*')
if [[ -z $leftovers ]]; then pass; else fail "a failed change leaves no temporary file" "$leftovers"; fi

run alice -l
expect_stdout "a denied account sees only the denial" "$denied_privileges"

finish
