# shellcheck shell=bash
# The bash completion as installed, in a real bash of the caller's: the
# options, after -m the driver names the configurator lists, and for a
# denied account no names and not a byte on the terminal.
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "$(readlink -f "$0")")/lib.sh"

readonly completion=/usr/local/share/bash-completion/completions/vidselect

# complete_as WHO LINE: completes LINE, the cursor at its end, in a clean
# bash of WHO's that has sourced the installed completion file, through the
# function it registered for vidselect. The offered words go to $out, one
# a line; anything printed while loading or completing goes to $err.
complete_as() {
    forget_runs
    # shellcheck disable=SC2016 # the inner bash expands its own arguments
    sandbox_as "$1" env -i PATH=/usr/local/bin:/usr/bin:/bin bash -c '
        source "$1" >&2 || exit
        read -ra registration <<<"$(complete -p vidselect)" || exit
        for ((i = 0; i < ${#registration[@]} - 1; i++)); do
            [[ ${registration[i]} == -F ]] && function=${registration[i + 1]}
        done
        read -ra COMP_WORDS <<<"$2"
        [[ $2 == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE=$2
        COMP_POINT=${#2}
        COMPREPLY=()
        "$function" vidselect "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" >&2
        if ((${#COMPREPLY[@]})); then printf "%s\n" "${COMPREPLY[@]}"; fi
    ' completion "$completion" "$2" >"$out" 2>"$err"
    status=$?
}

# The recorder lists "configurator: l": not a driver name, so not offered,
# though the listing ran.
complete_as tavik "vidselect -m "
expect_runs "completing after -m lists the drivers" l
expect_stdout "a listed line that is no driver name is not offered" ""

# A configurator that lists three drivers, as the machine's does.
printf '#!/bin/sh\nprintf "fbdev\\nmodesetting\\nvesa\\n"\n' >"$configurator"

complete_as tavik "vidselect -"
expect_stdout "the options" $'-m\n-q\n-l\n--help\n'
complete_as tavik "vidselect -q --"
expect_stdout "a long option" $'--help\n'
complete_as tavik "vidselect -m "
expect_stdout "the listed drivers after -m" $'fbdev\nmodesetting\nvesa\n'
expect_stderr "nothing printed while completing" ""
complete_as tavik "vidselect -l -m f"
expect_stdout "a listed driver by its beginning" $'fbdev\n'
complete_as tavik "vidselect -qmv"
expect_stdout "a driver joined to -m, behind -q" $'-qmvesa\n'
complete_as tavik "vidselect -qm"
expect_stdout "every driver joined to -m, none begun yet" $'-qmfbdev\n-qmmodesetting\n-qmvesa\n'
complete_as tavik "vidselect -lqm "
expect_stdout "the drivers after -m behind -l and -q" $'fbdev\nmodesetting\nvesa\n'

for who in alice '#1600'; do
    complete_as "$who" "vidselect -m "
    expect_stdout "no names for a denied account ($who)" ""
    expect_stderr "nothing printed for a denied account ($who)" ""
done

finish
