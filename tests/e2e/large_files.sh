# shellcheck shell=bash
# A 32-bit binary built without 64-bit file offsets imports the C library's
# 32-bit file interfaces, which fail with EOVERFLOW as soon as a file system
# hands out an inode number or a directory offset past 32 bits. Each FILE is
# a binary or a Debian package, whose ELF files are checked; a 64-bit one
# has no narrow interfaces to import, and is passed over.
#
# usage: large_files.sh FILE...
set -uo pipefail

# Each has a 64-bit twin (readdir64, __fstat64_time64, lseek64, ...) that a
# build with _FILE_OFFSET_BITS=64 imports instead.
readonly narrow_interfaces=(
    open openat creat fopen freopen tmpfile __open_2 __openat_2
    mkstemp mkostemp mkstemps mkostemps
    lseek pread pwrite preadv pwritev preadv2 pwritev2 __pread_chk fcntl lockf
    truncate ftruncate fallocate posix_fallocate posix_fadvise
    fseeko ftello fgetpos fsetpos
    stat fstat lstat fstatat __xstat __fxstat __lxstat __fxstatat
    statfs fstatfs statvfs fstatvfs
    readdir readdir_r scandir scandirat alphasort versionsort getdirentries
    glob globfree ftw nftw
    mmap sendfile getrlimit setrlimit prlimit
)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vidselect-large-files.XXXXXX") || exit
trap 'rm -rf "$scratch"' EXIT

checked=0
failed=0

declare -A is_narrow
for interface in "${narrow_interfaces[@]}"; do
    is_narrow[$interface]=1
done

# check_binary FILE [NAME]: FILE, if a 32-bit ELF file, imports no narrow
# interface; NAME is how the output calls it.
check_binary() {
    local file=$1 name=${2:-$1} imported symbol narrow=()
    [[ $(head -c 5 "$file" | od -An -tx1) == ' 7f 45 4c 46 01' ]] || return 0
    checked=$((checked + 1))
    if ! imported=$(nm -D --undefined-only "$file"); then
        echo "FAIL: cannot read the dynamic symbols of $name"
        failed=$((failed + 1))
        return
    fi
    while read -r symbol; do
        if [[ -n ${is_narrow[${symbol%%@*}]:-} ]]; then
            narrow+=("$symbol")
        fi
    done < <(awk '{ print $NF }' <<<"$imported")
    if ((${#narrow[@]})); then
        echo "FAIL: $name imports 32-bit file interfaces: ${narrow[*]}"
        failed=$((failed + 1))
    else
        echo "$name: 64-bit file interfaces only"
    fi
}

for file in "$@"; do
    if [[ $file == *.deb ]]; then
        unpacked=$scratch/${file##*/}
        mkdir "$unpacked"
        dpkg-deb -x "$file" "$unpacked" || exit
        while IFS= read -r -d '' member; do
            check_binary "$member" "${file##*/}:${member#"$unpacked"}"
        done < <(find "$unpacked" -type f -print0 | sort -z)
    else
        check_binary "$file"
    fi
done

if ((checked == 0)); then
    echo "FAIL: no 32-bit binary among $*"
    exit 1
fi
echo "${0##*/}: $((checked - failed)) binaries passed, $failed failed"
((failed == 0))
