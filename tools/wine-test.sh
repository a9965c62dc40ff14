#!/usr/bin/env bash
# Runs one test executable under Wine for ctest, in the environment of
# tools/wine-env.sh (ctest passes BUILD, the build folder). Its exit status is
# the test's verdict, unchanged: a crash while the process exits fails the
# test like any other, since a host would meet it at every close.
#
# Wine 8.0 itself kills a process with SIGSEGV now and then when it ends while
# one of its threads is still starting; every test program therefore waits for
# its threads to start before it ends (tests/support/started_threads.cpp).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec wine "$@"
