# shellcheck shell=bash
# The source files of a tree as they are in its work tree, for what builds
# or tests them from a copy of their own (scripts/package.sh, the package
# tests): a copy holds nothing a build or a test run left in the tree.
# Source it.

sources_platform=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)

# copy_sources TREE COPY: the source files of TREE into COPY, but for this
# project when it sits inside TREE, which is no part of the tool's source
# package; without git, the tree apart from builds and version control.
copy_sources() {
    local tree=$1 copy=$2 excluded
    excluded=$(realpath --relative-to="$tree" "$sources_platform")
    if [[ $excluded == . || $excluded == ..* ]]; then
        excluded=
    fi
    if git -C "$tree" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git -C "$tree" ls-files -z --cached --others --exclude-standard -- . ${excluded:+":!$excluded"} |
            tar -C "$tree" --null -T - -cf - | tar -C "$copy" -xf -
    else
        tar -C "$tree" --exclude=./build --exclude=./.git ${excluded:+--exclude=./$excluded} -cf - . |
            tar -C "$copy" -xf -
    fi
}
