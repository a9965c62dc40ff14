#!/usr/bin/env bash
# Runs the stand-in host program with the plug-in on a document file of your
# own, under the project's Wine settings (tools/wine-env.sh: no debug
# chatter), from the folder you are in. Build it first with `make host`.
#
#   tools/veldan-host.sh --data my-shop.json                 # lists the documents
#   tools/veldan-host.sh --data my-shop.json --interactive
#   tools/veldan-host.sh --data my-shop.json --wz WZ/7/2026 --order ZK/3/2026 --save WZ/7/2026
#   tools/veldan-host.sh --help
#
# The file is checked whole first and saved back only after steps or a menu
# that changed it (docs/document-file.md describes it). BUILD chooses the
# build folder (default: build beside tools/).
#
# The session runs in a Wine prefix of its own (wineprefix-host in the build
# folder), so that `make test` or `make demo`, which end the Wine processes of
# their own prefixes, never end it. The program's exit code is passed on (a
# crash in its process it reports itself, with 9); a session that ends
# without the program finishing (its Wine processes ended from outside, say
# with wineserver -k) says so and ends with 8 (or 128 and the signal's
# number).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Inside a project command (make demo) its prefix; otherwise the sessions' own.
export QUENDRIX_WINE_PREFIX=${QUENDRIX_WINE_SESSION:-wineprefix-host}
source "$root/tools/wine-env.sh"
build=$QUENDRIX_BUILD
require_built veldan-host veldan_host.exe VELDAN.dll Quendrix.dll
if ! command -v wine >/dev/null; then
    echo "veldan-host: Wine is not installed; run make host once (it installs what is missing)" >&2
    exit 1
fi
start_wine

# The program leaves its exit code in this file when it finishes (Z: is the
# root of the Unix file system in the prefix).
status_file=$(mktemp)
trap 'rm -f "$status_file"' EXIT
QUENDRIX_HOST_STATUS="Z:$status_file" wine "$build/veldan_host.exe" "$@"
status=$?
if [ ! -s "$status_file" ]; then
    echo "veldan-host: the session ended before the program finished (its Wine processes" \
        "were ended from outside); the data file is saved only at the end" >&2
    [ "$status" -gt 128 ] || status=8
fi
# The server ends a moment after its last program.
timeout 10 wineserver -w >/dev/null 2>&1 || true
exit "$status"
