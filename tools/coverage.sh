#!/usr/bin/env bash
# tools/coverage.sh [FOLDER] [JOBS]: line and branch coverage of the
# plug-in's code (host/, frame/ and reconcile/) over the tests, make coverage.
#
# Builds the project in a folder of its own (default build/coverage) with the
# plug-in's code compiled by mingw with --coverage, runs every test there
# under Wine (in that folder's own Wine prefix; the counts are written beside
# the objects as each program, or Quendrix.dll, ends), and reads the counts
# with mingw's gcov (tools/coverage_report.py): a table per folder, and every
# line not run and every branch not taken in FOLDER/not-covered.txt.
# docs/maintaining.md ("Coverage") lists why each branch left is one.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/coverage}
jobs=${2:-2}
case $build in
    /*) ;;
    *) build=$root/$build ;;
esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
        -DQUENDRIX_COVERAGE=ON >/dev/null || exit 1
fi
cmake --build "$build" -j "$jobs" >/dev/null || exit 1
find "$build" -name '*.gcda' -delete

# The DLL's own image is not the one that ships: the instrumented code
# imports the runtime's file functions and names the build folder.
echo "coverage: running the tests in $build (the log: $build/tests.log)"
BUILD=$build "$root/tools/wine-session.sh" \
    ctest --test-dir "$build" -j "$jobs" -E '^DllImage\.' >"$build/tests.log" 2>&1
status=$?
tail -n 3 "$build/tests.log"
python3 "$root/tools/coverage_report.py" "$root" "$build" || exit 1
exit $status
