# shellcheck shell=bash
# The Debian packages, installed and purged by the real dpkg in the
# sandbox, whose /etc, /opt, /usr and /var (and so dpkg's database) are its
# own: the tool set-user-ID root, run by the service account through the
# stand-ins; an administrator's statoverride that outlives a reinstall; and
# a purge that leaves nothing of the packages and takes nothing else. (The
# sandbox's /opt is a mount point, which dpkg cannot take away; piuparts,
# in a plain Debian root, checks that the purge leaves /opt in place.)
#
# usage: bash packages.sh PACKAGE_DIR (where scripts/package.sh put them)
# shellcheck source=SCRIPTDIR/testlib.sh
source "$(dirname "$(readlink -f "$0")")/testlib.sh"
# shellcheck source=SCRIPTDIR/../../scripts/sandbox.sh
source "$(dirname "$(readlink -f "$0")")/../../scripts/sandbox.sh"
sandbox_enter "$@"
sandbox_setup

package_dir=$1
readonly vidselect=/usr/bin/vidselect
readonly no_default="No default graphics driver is set; the X server chooses one when it starts."

find_packages "$package_dir"
tool_package=${packages[0]}
standins_package=${packages[1]}

# Debian 11's C library, 2.31, meets every libc6 dependency dpkg-shlibdeps
# gave a package, or dpkg refuses it there.
# shellcheck disable=SC2317 # run by check
check_libc_floor() { # PACKAGE
    local depends version versions=()
    depends=$(dpkg-deb -f "$1" Depends)
    mapfile -t versions < <(grep -oE 'libc6 \(>= [^)]+\)' <<<"$depends" | cut -d ' ' -f 3 | tr -d ')')
    if ((${#versions[@]} == 0)); then
        printf '%s depends on no libc6 version: %s\n' "${1##*/}" "$depends"
        return 1
    fi
    for version in "${versions[@]}"; do
        if ! dpkg --compare-versions "$version" le 2.31-13; then
            printf '%s needs libc6 (>= %s)\n' "${1##*/}" "$version"
            return 1
        fi
    done
}
check "Debian 11's C library meets the tool's libc6 dependency" check_libc_floor "$tool_package"
check "Debian 11's C library meets the stand-ins' libc6 dependency" check_libc_floor "$standins_package"

# The host's statoverrides name the host's accounts, which the sandbox
# does not have, and dpkg refuses to run with them.
: >/var/lib/dpkg/statoverride
# A driver for the stand-in configurator to offer.
: >"$sandbox_drivers/dummy_drv.so"
before=$sandbox_scratch/before
file_listing >"$before"

check "dpkg installs both packages" quietly dpkg -i "$tool_package" "$standins_package"
check "vidselect is installed 4755 root:root" is_equal "$(stat -c '%a %U:%G' "$vidselect")" "4755 root:root"
check "the completion file is installed" test -f /usr/share/bash-completion/completions/vidselect
check "the stand-ins' man pages come with the stand-ins' package" is_equal \
    "$(dpkg-query -S /usr/share/man/man8/dispconfig.8.gz /usr/share/man/man5/vorn-roles.5.gz 2>&1)" \
    $'vidselect-standins: /usr/share/man/man8/dispconfig.8.gz\nvidselect-standins: /usr/share/man/man5/vorn-roles.5.gz'

sandbox_add_account tavik 1500 morle
output=$(sandbox_as tavik "$vidselect" -q 2>&1)
check "the service account's vidselect -q runs the stand-in configurator" \
    is_equal "$output" "$no_default"
check "the service account's vidselect -m changes the default as root" \
    quietly sandbox_as tavik "$vidselect" -m dummy

check "an administrator's statoverride applies" \
    quietly dpkg-statoverride --update --add root root 4750 "$vidselect"
check "dpkg reinstalls vidselect" quietly dpkg -i "$tool_package"
check "the statoverride holds across the reinstall" \
    is_equal "$(stat -c '%a %U:%G' "$vidselect")" "4750 root:root"
check "the statoverride goes" quietly dpkg-statoverride --remove "$vidselect"

check "dpkg purges both packages" quietly dpkg --purge vidselect vidselect-standins
check "the purge takes the configurator's lock" test ! -e /run/dispconfig.lock
# The snippet is the administrator's choice of driver, which no purge takes.
rm "$sandbox_x_config_dir/20-dispconfig.conf"
after=$sandbox_scratch/after
file_listing >"$after"
check "the purge leaves the files as they were before the install" diff "$before" "$after"
finish
