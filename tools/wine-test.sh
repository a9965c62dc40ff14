#!/usr/bin/env bash
# Runs one test executable under Wine for ctest, in the environment of
# tools/wine-env.sh (ctest passes BUILD, the build folder).
#
# Wine 8.0 itself kills a process with SIGSEGV now and then when it ends while
# one of its threads is still starting; every test program therefore waits for
# its threads to start before it ends (tests/support/started_threads.cpp). A
# signal after the program's last test passed is still not forgiven: the
# program runs once more, and only a second run that ends cleanly passes it.
# A crash of ours while the process exits repeats and fails the test; any
# other failure is passed on at once.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

output=$(mktemp)
trap 'rm -f "$output"' EXIT
wine "$@" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}

if [ "$status" -gt 128 ] && tail -n 3 "$output" | grep -q '^\[  PASSED  \]' \
    && ! grep -q '^\[  FAILED  \]' "$output"; then
    echo "note: Wine ended with signal $((status - 128)) after the tests had passed; running again"
    wine "$@"
    status=$?
fi
exit "$status"
