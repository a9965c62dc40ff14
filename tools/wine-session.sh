#!/usr/bin/env bash
# Runs one command (the tests, the demo, the benchmark) against one of the
# build's Wine prefixes (QUENDRIX_WINE_PREFIX, default wineprefix), with the
# environment of tools/wine-env.sh, and leaves no Wine process of that prefix
# behind: however the command ends, the wineserver and the services it started
# (services.exe, winedevice.exe, explorer.exe, ...) are ended with it. A host
# program session in another prefix (tools/veldan-host.sh) is never touched.
# During the run a kept-alive wineserver makes the many short test processes
# cheap. With --end, only ends them.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
# What the command runs keeps to this prefix (tools/veldan-host.sh under make demo).
export QUENDRIX_WINE_SESSION=$QUENDRIX_WINE_PREFIX

end_wine() {
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
}

if [ "${1:-}" = --end ]; then
    end_wine
    exit 0
fi

trap end_wine EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir -p "$WINEPREFIX"
wineserver -p 30 </dev/null >/dev/null 2>&1
start_wine
"$@"
