# The Wine environment of every run of the project's Windows programs: the
# tests (through tools/wine-test.sh), the demo, the benchmark (through
# tools/wine-session.sh) and the host program on a user's own file. Source it
# with BUILD set to the build folder (default: build beside tools/).
# The build folder's own prefixes keep ~/.wine untouched; no Mono or Gecko
# installer, no debug chatter (WINEDEBUG may be set beforehand to look into
# Wine). QUENDRIX_WINE_PREFIX names the prefix in the build folder, each with
# a wineserver and Wine processes of its own: wineprefix (the tests and the
# benchmark, the default), wineprefix-demo (make demo), wineprefix-host
# (host program sessions a user starts: tools/veldan-host.sh, tools/demo.sh
# run by hand) and wineprefix-replay (tools/replay.sh). tools/wine-session.sh
# ends every process of its prefix when its command ends, and so never a
# session of another.
_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
_wine_env_build=${BUILD:-build}
case $_wine_env_build in
    /*) ;;
    *) _wine_env_build=$_wine_env_root/$_wine_env_build ;;
esac
export QUENDRIX_BUILD=$_wine_env_build
export QUENDRIX_WINE_PREFIX=${QUENDRIX_WINE_PREFIX:-wineprefix}
export WINEPREFIX=$_wine_env_build/$QUENDRIX_WINE_PREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=mscoree,mshtml=
unset _wine_env_root _wine_env_build
# Wine takes file names and arguments in the locale's character set: a UTF-8
# one, so that names with Polish letters (UTF-8 on disk) come through whole
# under any locale the shell has (none at all on a fresh machine, say).
case $(locale charmap 2>/dev/null) in
    UTF-8) ;;
    *) export LC_ALL=C.UTF-8 ;;
esac

# require_built WHO FILE...: ends the calling script, in WHO's name, when the
# build folder lacks one of the files (made by make host, or by the make
# target in QUENDRIX_BUILT_BY).
require_built() {
    local who=$1 file
    shift
    for file in "$@"; do
        if [ ! -f "$QUENDRIX_BUILD/$file" ]; then
            echo "$who: $QUENDRIX_BUILD/$file is missing; build it first" \
                "(make ${QUENDRIX_BUILT_BY:-host})" >&2
            exit 1
        fi
    done
}

# start_wine: makes the prefix on its first use and starts Wine's services in
# it with their output going nowhere, before a program of ours runs: Wine's
# own words ("configuration ... has been updated") stay out of the program's
# output, and the services, which outlive the program, do not keep its output
# (a pipe into tee, say) open.
start_wine() {
    mkdir -p "$WINEPREFIX"
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
