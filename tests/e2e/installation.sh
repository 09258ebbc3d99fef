# shellcheck shell=bash
# What an install puts on the machine: vidselect set-user-ID root, linked
# by name against libc and the role library alone, with no run path a
# caller could plant a library in, its man page and its bash completion. A
# plain install brings nothing else, the tests' role library least of all.
# Nothing in the build tree has a run path into the caller's directory
# either.
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

# Nor may anything built in the tree, which anyone could copy and make
# set-user-ID, as the benchmark does with its floor: a run path entry that
# is empty (the current directory) or relative lets the caller choose the
# libraries it loads.
checked=()
while IFS= read -r -d '' binary; do
    [[ $(head -c 4 "$binary") == $'\x7fELF' ]] || continue
    checked+=("${binary#"$build_dir"/}")
    while IFS= read -r run_path; do
        if [[ ":$run_path:" == *::* || ":$run_path:" =~ :[^/] ]]; then
            fail "${binary#"$build_dir"/} has no empty or relative run path entry" "run path: '$run_path'"
        else
            pass
        fi
    done < <(readelf -d "$binary" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]$/\2/p')
done < <(find "$build_dir"/{src,bench,tests} -name CMakeFiles -prune -o \
    -type f \( -perm -u+x -o -name '*.so*' \) -print0)
for built in src/vidselect tests/role_library/libvorn.so tests/e2e/leaky/libvorn.so bench/gate_floor; do
    if [[ " ${checked[*]} " == *" $built "* ]]; then
        pass
    else
        fail "the build tree's run paths are checked on $built" "checked: ${checked[*]}"
    fi
done

if [[ -f /usr/local/share/man/man1/vidselect.1 ]]; then pass; else fail "the man page is installed"; fi

plain=$sandbox_scratch/plain
DESTDIR=$plain cmake --install "$build_dir" --prefix /usr >/dev/null
expect_text "a plain install brings the tool, its man page and its completion alone" "its files" \
    "$(cd "$plain" && find . -type f | sort)" \
    $'./usr/bin/vidselect\n./usr/share/bash-completion/completions/vidselect\n./usr/share/man/man1/vidselect.1'

finish
