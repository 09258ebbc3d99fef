# shellcheck shell=bash
# What an install puts on the machine: vidselect set-user-ID root, linked
# by name against libc and the role library alone, with no run path a
# caller could plant a library in, its man page and its bash completion. A
# plain install brings no stand-in.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

installed_tool=$vidselect
if [[ -n $emulator ]]; then
    installed_tool=$emulated_tool
fi

mode=$(stat -c '%a %U %G' "$installed_tool")
if [[ $mode == "4755 root root" ]]; then pass; else fail "vidselect is installed 4755 root:root" "$mode"; fi

needed=$(readelf -d "$installed_tool" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
if sanitized_build; then
    echo "left out: the sanitizer build links its runtimes, so what vidselect needs is checked on the others"
elif [[ $needed =~ ^libc\.so\.[0-9]+\ libvorn\.so\ $ ]]; then
    pass
else
    fail "vidselect needs libc and libvorn.so alone" "it needs: $needed"
fi
if readelf -d "$installed_tool" | grep -qE '\((RPATH|RUNPATH)\)'; then
    fail "the installed vidselect has no run path" "$(readelf -d "$installed_tool" | grep -E 'RPATH|RUNPATH')"
else
    pass
fi

if [[ -f /usr/local/share/man/man1/vidselect.1 ]]; then pass; else fail "the man page is installed"; fi

plain=$sandbox_scratch/plain
DESTDIR=$plain cmake --install "$build_dir" --prefix /usr >/dev/null
expect_text "a plain install brings the tool, its man page and its completion alone" "its files" \
    "$(cd "$plain" && find . -type f | sort)" \
    $'./usr/bin/vidselect\n./usr/share/bash-completion/completions/vidselect\n./usr/share/man/man1/vidselect.1'

finish
