#!/usr/bin/env bash
# fuzz-run.sh [--fresh] PROGRAM NAME [libFuzzer options...]: runs the fuzz
# target PROGRAM (fuzz_NAME in build/native) from the seeds of fuzz/seeds/NAME
# and the kept cases of fuzz/cases/NAME, growing the corpus in
# build/native/corpus/NAME. With --fresh (make test's short run) it starts
# from the seeds alone, in a new folder that goes with the run, so that the
# run always starts alike and no large kept case slows it down; the kept
# cases have a test of their own. What fails is written to
# build/native/findings/NAME/, and its name is printed: see
# docs/maintaining.md for how a finding becomes a kept case.
set -euo pipefail

fresh=0
if [ "${1:-}" = --fresh ]; then
    fresh=1
    shift
fi
program=$1 name=$2
shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$(dirname "$program")" && pwd)

if [ $fresh = 1 ]; then
    corpus=$(mktemp -d)
    trap 'rm -rf "$corpus"' EXIT
else
    corpus=$build/corpus/$name
    mkdir -p "$corpus"
fi
findings=$build/findings/$name
mkdir -p "$findings"
sources=()
for folder in "$here/seeds/$name" "$here/cases/$name"; do
    [ -d "$folder" ] && sources+=("$folder")
    [ $fresh = 1 ] && break
done

status=0
# Inputs up to 16 KB (a larger kept case is read cut to that): the faults
# of a reader show in small files, and a large one only slows the run down.
# A -max_len of the caller's comes later and counts.
"$program" -artifact_prefix="$findings/" -timeout=10 -max_len=16384 -print_final_stats=1 "$@" \
    "$corpus" "${sources[@]}" || status=$?
if [ $status != 0 ]; then
    echo "fuzz-run: $name failed; the input is in $findings/ (newest first):" >&2
    ls -t "$findings" | head -3 | sed "s|^|  $findings/|" >&2
fi
exit $status
