#!/usr/bin/env bash
# Replays recordings of the call trace (a Quendrix-trace.txt written with
# Record=1 beside Enabled=1 in Quendrix.ini; docs/trace-format.md) against
# the plug-in built here, in the replay host, under the project's Wine
# settings. Build what it needs first with `make replay`.
#
#   tools/replay.sh Quendrix-trace.txt
#   tools/replay.sh --plugin build/testbed/deliberate-fault/Quendrix.dll Quendrix-trace.txt
#
# The plug-in stays loaded from one session to the next as the program kept
# it; the output ends with "identical", or names the first divergence: the
# call's number and operation, what was recorded and what came, bytes side by
# side, and the call as the trace shows it. Exit code: 0 identical, 1 a
# divergence, 2 a recording that cannot be read, breaks its format's rules or
# breaks off (the line is named), 3 a plug-in that cannot be loaded, 4 a
# wrong command line, 5 a session whose load began before the recording, 6 a
# fault of the replay itself. The replay runs in a Wine prefix of its own
# (wineprefix-replay in the build folder), which `make test` never ends.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QUENDRIX_WINE_PREFIX=${QUENDRIX_WINE_SESSION:-wineprefix-replay}
export QUENDRIX_BUILT_BY=replay
source "$root/tools/wine-env.sh"
if [ $# -eq 0 ] || [ "$1" = --help ] || [ "$1" = -h ]; then
    sed -n '2,18p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    [ $# -eq 0 ] && exit 4
    exit 0
fi
require_built replay replay/quendrix_replay.exe replay/VELDAN.dll Quendrix.dll
start_wine

# Files are handed over by their Unix paths on Wine's drive Z:.
arguments=()
for argument in "$@"; do
    if [ -e "$argument" ]; then
        arguments+=("Z:$(realpath "$argument")")
    else
        arguments+=("$argument")
    fi
done
wine "$QUENDRIX_BUILD/replay/quendrix_replay.exe" "${arguments[@]}"
status=$?
timeout 10 wineserver -w >/dev/null 2>&1 || true
exit "$status"
