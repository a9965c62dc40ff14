#!/usr/bin/env bash
# Runs the stand-in host program with the plug-in on a document file of your
# own, under the project's Wine settings (tools/wine-env.sh: a private prefix
# in the build folder, no debug chatter), from the folder you are in.
#
#   tools/veldan-host.sh --data my-shop.json --interactive
#   tools/veldan-host.sh --data my-shop.json --wz WZ/7/2026 --order ZK/3/2026 --save WZ/7/2026
#   tools/veldan-host.sh --help
#
# The file is checked whole first and saved back at the end (docs/document-file.md
# describes it). BUILD chooses the build folder (default: build beside tools/).
# The program's exit code is passed on; the Wine server that the run started
# is waited for, so that nothing of Wine stays running afterwards.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tools/wine-env.sh"
build=$QUENDRIX_BUILD
require_built veldan-host veldan_host.exe VELDAN.dll Quendrix.dll
if ! command -v wine >/dev/null; then
    echo "veldan-host: Wine is not installed; run make once (it installs what is missing)" >&2
    exit 1
fi
mkdir -p "$WINEPREFIX"

wine "$build/veldan_host.exe" "$@"
status=$?
# The server ends a moment after its last program; a server that others
# keep alive (a test run's) is left to them after a short wait.
timeout 10 wineserver -w >/dev/null 2>&1 || true
exit "$status"
