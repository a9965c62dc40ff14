#!/usr/bin/env bash
# make demo: the plug-in at work in the stand-in host program, unattended, on
# the bundled sample shop. The program works on a fresh copy in the build
# folder (BUILD, default build), so the repository's data/sample-shop.json is
# never changed; the copy is left there, compared and saved, to look at.
# Arguments go to the program, e.g. tools/demo.sh --interactive for a menu
# in which you choose the documents and answer yourself. The program runs
# through tools/veldan-host.sh: run by hand, in the host sessions' own Wine
# prefix, which no project command ends; under make demo, in the demo's.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QUENDRIX_WINE_PREFIX=${QUENDRIX_WINE_SESSION:-wineprefix-host}
source "$root/tools/wine-env.sh"
build=$QUENDRIX_BUILD
require_built demo veldan_host.exe VELDAN.dll Quendrix.dll
sample=$root/data/sample-shop.json
if [ ! -r "$sample" ]; then
    echo "demo: the sample data $sample is missing or unreadable" >&2
    exit 1
fi

work=$build/demo
mkdir -p "$work"
cp "$sample" "$work/sample-shop.json"
rm -f "$work/veldan.ini"  # a fresh settings file: the install notice shows

# The working folder is the session's (--session): the plug-in is copied
# there and runs with its diagnostics switched on, its settings file beside
# it, the trace and the journal written there, anew.
# QUENDRIX_DEMO_RECORD=1 switches the trace's recording on too (Record=1):
# tools/replay.sh build/demo/Quendrix-trace.txt then plays it again.
record=${QUENDRIX_DEMO_RECORD:-0}
printf '[Trace]\r\nEnabled=1\r\nFile=Quendrix-trace.txt\r\nRecord=%s\r\n[Journal]\r\nEnabled=1\r\nFile=Quendrix-journal.csv\r\n' \
    "$record" >"$work/Quendrix.ini"
rm -f "$work/Quendrix-trace.txt" "$work/Quendrix-journal.csv"

# Paths as the user sees them from the project folder, where it runs.
cd "$root"
relative=${work#"$root"/}
# Without arguments the program plays its story (--story) on the copy.
[ $# -gt 0 ] || set -- --story
status=0
"$root/tools/veldan-host.sh" --data "$relative/sample-shop.json" --session "$relative" "$@" ||
    status=$?

echo
echo "Dziennik porównań ($relative/Quendrix-journal.csv, Windows-1250):"
if [ -f "$work/Quendrix-journal.csv" ]; then
    iconv -f CP1250 -t UTF-8 "$work/Quendrix-journal.csv" | tr -d '\r' | sed 's/^/  /'
else
    echo "  (brak: żadne porównanie nic nie zmieniło)"
fi
echo
echo "Ślad wywołań, pierwsze wiersze ($relative/Quendrix-trace.txt):"
if [ -f "$work/Quendrix-trace.txt" ]; then
    # The readable lines only, without the recording's (those beginning with @).
    awk '!/^@/ && n++ < 16' "$work/Quendrix-trace.txt" | tr -d '\r' | sed 's/^/  /'
    echo "  … razem $(grep -vc '^@' "$work/Quendrix-trace.txt") wierszy"
else
    echo "  (brak)"
fi
exit $status
