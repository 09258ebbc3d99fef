# shellcheck shell=bash
# The stand-ins in the tool's sandbox (its scripts/sandbox.sh), in the place
# of the role library and the configurator a ZVK has, for the demo and the
# suites that run the tool with them. Source it; call it inside the sandbox.

# sandbox_install_standins BUILD_DIR [EMULATOR]: the stand-ins of BUILD_DIR,
# installed as their package would, the role library under /usr/local.
# Whatever stood at their paths goes first: cmake --install leaves alone a
# file whose time is within a second of the build's. Under an emulator the
# configurator moves behind a script that runs it there.
sandbox_install_standins() {
    local build_dir=$1 emulator=${2:-} configurator=/opt/qtr/bin/dispconfig
    rm -f "$configurator" "$configurator.emulated" /usr/local/lib/libvorn.so
    cmake --install "$build_dir" --prefix /usr/local --component standins >/dev/null || return
    ldconfig
    if [[ -n $emulator ]]; then
        mv "$configurator" "$configurator.emulated"
        printf '#!/bin/sh\nexec %s %s.emulated "$@"\n' "$emulator" "$configurator" >"$configurator"
        chmod 0755 "$configurator"
    fi
}
