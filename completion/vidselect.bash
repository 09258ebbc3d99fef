# shellcheck shell=bash
# Bash completion for vidselect: its options, and after -m (as "-m NAME" or
# "-mNAME", alone or behind -q and -l, the name begun or not) the driver
# names that `vidselect -l` lists for the user who is completing.

# _vidselect_offer_drivers COMMAND PREFIX PARTIAL: adds to COMPREPLY, each
# behind PREFIX, the listed driver names that begin with PARTIAL.
_vidselect_offer_drivers() {
    # The tool's own rule for a driver name, spelled out letter by letter so
    # that no locale can widen a range.
    local name='^[abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-]{1,31}$'
    local listing line
    # Only a listing that succeeded, and of it only the lines that are driver
    # names: a denied caller's denial comes on standard output, and nothing
    # the tool or the configurator says may land on the terminal mid-line.
    listing=$("$1" -l </dev/null 2>/dev/null) || return 0
    while IFS= read -r line; do
        if [[ $line =~ $name && $line == "$3"* ]]; then
            COMPREPLY+=("$2$line")
        fi
    done <<<"$listing"
}

_vidselect() {
    local current=${COMP_WORDS[COMP_CWORD]} previous=
    if ((COMP_CWORD > 0)); then
        previous=${COMP_WORDS[COMP_CWORD - 1]}
    fi
    COMPREPLY=()
    if [[ $previous =~ ^-[lq]*m$ ]]; then
        _vidselect_offer_drivers "$1" "" "$current"
    elif [[ $current =~ ^(-[lq]*m)(.*)$ ]]; then
        _vidselect_offer_drivers "$1" "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
    else
        local option
        for option in -m -q -l --help; do
            if [[ $option == "$current"* ]]; then
                COMPREPLY+=("$option")
            fi
        done
    fi
}
complete -F _vidselect vidselect
