# shellcheck shell=bash
# shellcheck disable=SC2034 # the suites that source this file use its variables
# Shared by the end-to-end tests, which CTest runs as
#   bash TEST.sh BUILD_DIR [ARGUMENT...]
# Each test runs in a sandbox of its own (scripts/sandbox.sh) with the real
# vidselect installed set-user-ID root from BUILD_DIR, the accounts below,
# and the recording configurator (recorder.c) at the configurator's path.
# BUILD_DIR/tests/e2e/emulation says how the build runs: its first line is
# the emulator's command line, empty where the kernel runs the tool itself,
# as it runs a 32-bit build on a 64-bit x86 kernel with IA32 emulation
# (where it does not, see install_under_test); its second, where the
# emulated tool is kept.

# shellcheck source=SCRIPTDIR/testlib.sh
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/testlib.sh"
# shellcheck source=SCRIPTDIR/../../scripts/sandbox.sh
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../../scripts/sandbox.sh"
sandbox_enter "$@"
sandbox_setup

build_dir=$1
helpers=$build_dir/tests/e2e
{ read -r emulator && read -r emulated_tool; } <"$helpers/emulation" || exit
launch=$helpers/launch
readonly vidselect=/usr/local/bin/vidselect
readonly configurator=/opt/qtr/bin/dispconfig
readonly record=/opt/qtr/record

# Installs vidselect from the build tree, with the tests' role library
# (tests/role_library) and the recording configurator. Under an emulator
# the tool moves aside, behind the set-user-ID starter that runs it under
# the emulator as the kernel would. Whatever a suite installed at those
# paths goes first: cmake --install leaves alone a file whose time is
# within a second of the build's, as the recorder's and the set-user-ID
# starter's are right after a build.
install_under_test() {
    rm -f "$vidselect" "$configurator"
    sandbox_install "$build_dir"
    install -m 0755 "$build_dir/tests/role_library/libvorn.so" /usr/local/lib/libvorn.so
    ldconfig
    install -D -m 0755 "$helpers/recorder" "$configurator"
    if [[ -z $emulator ]]; then
        return
    fi
    mkdir -p "${emulated_tool%/*}"
    mv "$vidselect" "$emulated_tool"
    install -m 4755 -o root -g root "$helpers/setuid_starter" "$vidselect"
}
install_under_test
# Which of the two proofs a 32-bit build gets, for whoever reads the output.
if [[ -n $emulator ]]; then
    echo "32-bit vidselect, under $emulator behind the set-user-ID starter"
elif readelf -h "$vidselect" | grep -q 'Class: *ELF32$'; then
    echo "32-bit vidselect, run by the kernel"
fi

# The service account, an account that holds the service role but is not
# the service account, and two names that only look like it.
sandbox_add_account tavik 1500 morle
sandbox_add_account alice 1501 morle
sandbox_add_account tavikx 1502 morle
sandbox_add_account TAVIK 1503 morle

mkdir -m 1777 "$record"

readonly usage_text=$'Usage: vidselect [ -m  <drivername >] | -l | -q ] [--help]
\tTool for Product Engineer/Support personnel to change the
\t\tdefault graphic driver for the ZVK
\tThis command requires PE authority to run.

\t-m \tChanges the default driver to drivername that is specified.
\t-l \tLists the possible supported graphic drivers
\t-q \tLists the current Graphics driver.

\tThe X server must be restarted to pick up the new setting.
\t\t<ctrl><alt><Backspace> or reboot ZVK
'
readonly denied_role=$'Access denied, unable to determine user\'s role!\n'
readonly denied_privileges=$'Access denied, Insufficient privileges!\n'

out=$sandbox_scratch/stdout
err=$sandbox_scratch/stderr
expected_file=$sandbox_scratch/expected
status=

# set_roles LINE...: the role library's file, whole.
set_roles() {
    printf '%s\n' "$@" >/etc/vorn/roles
}

# behave OP ACTION: what the recorder does on operation OP ("exit 3",
# "signal 9"); with no ACTION it exits 0 again.
behave() {
    if [[ -n ${2:-} ]]; then
        echo "$2" >"$record/behaviour-$1"
    else
        rm -f "$record/behaviour-$1"
    fi
}

forget_runs() {
    rm -f "$record"/{l,q,m,none}
    install -m 0666 /dev/null "$record/order"
}

# run WHO ARG...: runs vidselect as WHO with ARGs. Its status goes to
# $status, its output to $out and $err, and what the configurator saw to
# $record.
run() {
    local who=$1
    shift
    forget_runs
    sandbox_as "$who" "$vidselect" "$@" >"$out" 2>"$err"
    status=$?
}

# run_after WHO SETUP ARG...: the same, started from a shell of WHO's
# that first runs SETUP (a umask, a limit, a directory, descriptors).
run_after() {
    local who=$1 setup=$2
    shift 2
    forget_runs
    sandbox_as "$who" bash -c "$setup; exec \"\$0\" \"\$@\"" "$vidselect" "$@" >"$out" 2>"$err"
    status=$?
}

# run_launched WHO LAUNCH-OPTION... -- ARG...: the same, started through
# the launch helper.
run_launched() {
    local who=$1
    shift
    local options=()
    while [[ $1 != -- ]]; do
        options+=("$1")
        shift
    done
    shift
    forget_runs
    sandbox_as "$who" "$launch" "${options[@]}" "$vidselect" "$@" >"$out" 2>"$err"
    status=$?
}

# sanitized_build: whether BUILD_DIR is the sanitizer build, whose runtimes
# change what the tool links and how much memory it needs.
sanitized_build() {
    grep -q '^VIDSELECT_SANITIZE:BOOL=ON' "$build_dir/CMakeCache.txt"
}

expect_status() {
    if [[ $status == "$2" ]]; then pass; else fail "$1" "status $status, expected $2"; fi
}

# expect_stdout DESCRIPTION TEXT and expect_stderr: the whole output, byte
# for byte.
expect_stdout() {
    printf '%s' "$2" >"$expected_file"
    expect_same_file "$1" stdout "$out" "$expected_file"
}

expect_stderr() {
    printf '%s' "$2" >"$expected_file"
    expect_same_file "$1" stderr "$err" "$expected_file"
}

# expect_text DESCRIPTION WHAT ACTUAL EXPECTED: two texts a suite has put
# together, each as $(...) gives it, without its final newline.
expect_text() {
    local actual_file=$sandbox_scratch/actual
    : >"$actual_file"
    : >"$expected_file"
    if [[ -n $3 ]]; then printf '%s\n' "$3" >"$actual_file"; fi
    if [[ -n $4 ]]; then printf '%s\n' "$4" >"$expected_file"; fi
    expect_same_file "$1" "$2" "$actual_file" "$expected_file"
}

# expect_runs DESCRIPTION OP...: the configurator ran for exactly these
# operations, in this order.
expect_runs() {
    local description=$1 expected
    shift
    expected=$(printf '%s\n' "$@")
    if (($# == 0)); then expected=; fi
    if [[ $(cat "$record/order") == "$expected" ]]; then
        pass
    else
        fail "$description" "runs: $(tr '\n' ' ' <"$record/order")" "expected: $*"
    fi
}

# recorded OP KEY: what the configurator recorded under KEY on operation
# OP (all lines of it for env); fails when OP did not run. A key is a whole
# word: cpu is not cpus.
recorded() {
    [[ -f $record/$1 ]] && sed -n "s/^$2\( \|\$\)//p" "$record/$1"
}

# expect_recorded DESCRIPTION OP KEY VALUE
expect_recorded() {
    local actual
    if ! actual=$(recorded "$2" "$3"); then
        fail "$1" "operation $2 did not run"
        return
    fi
    if [[ $actual == "$4" ]]; then pass; else fail "$1" "$3 on $2: '$actual'" "expected: '$4'"; fi
}
