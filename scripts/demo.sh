#!/bin/bash
# Shows vidselect at work with the stand-ins, in a throwaway sandbox: the
# demo is the stand-ins' project's (platform/scripts/demo.sh).
exec bash "$(dirname "$(readlink -f "$0")")/../platform/scripts/demo.sh" "$@"
