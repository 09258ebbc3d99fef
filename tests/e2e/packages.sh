# The Debian packages: vidselect with the tool, set-user-ID root, and its
# man page, and never a stand-in; the stand-ins in a package of their own.
build_dir=$1
if [[ $EUID -ne 0 ]]; then
    echo "SKIP: packaging vidselect owned by root with mode 4755 needs root"
    exit 77
fi
output=$(mktemp -d)
trap 'rm -rf "$output"' EXIT
if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$output" >"$output/log" 2>&1; then
    cat "$output/log"
    echo "FAIL: cpack could not make the packages"
    exit 1
fi
failed=0
check() { # DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@"; then echo "ok: $description"; else echo "FAIL: $description"; failed=1; fi
}
tool=$(ls "$output"/vidselect_*.deb)
standins=$(ls "$output"/vidselect-standins_*.deb)
tool_files=$(dpkg-deb -c "$tool" | awk '$1 !~ /^d/ { print $1, $2, $6 }')
standin_files=$(dpkg-deb -c "$standins" | awk '$1 !~ /^d/ { print $6 }')
check "the tool's package holds vidselect, 4755 root, and the man page alone" \
    test "$tool_files" == "-rwsr-xr-x root/root ./usr/bin/vidselect
-rw-r--r-- root/root ./usr/share/man/man1/vidselect.1"
check "the stand-ins' package holds the role library and the configurator" \
    grep -qx './opt/qtr/bin/dispconfig' <<<"$standin_files"
check "... and the role library" grep -q '/libvorn\.so$' <<<"$standin_files"
check "the tool's package is in section admin" test "$(dpkg-deb -f "$tool" Section)" == admin
check "the tool's package names its dependencies" test -n "$(dpkg-deb -f "$tool" Depends)"
exit $failed
