# The Wine environment of every run of the project's Windows programs: the
# tests (through tools/wine-test.sh), the demo, the benchmark (through
# tools/wine-session.sh) and the host program on a user's own file. Source it
# with BUILD set to the build folder (default: build beside tools/).
# The build folder's own prefix keeps ~/.wine untouched and lets a run end
# every Wine process it started; no Mono or Gecko installer, no debug chatter
# (WINEDEBUG may be set beforehand to look into Wine).
_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
_wine_env_build=${BUILD:-build}
case $_wine_env_build in
    /*) ;;
    *) _wine_env_build=$_wine_env_root/$_wine_env_build ;;
esac
export QUENDRIX_BUILD=$_wine_env_build
export WINEPREFIX=$_wine_env_build/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=mscoree,mshtml=
unset _wine_env_root _wine_env_build

# require_built WHO FILE...: ends the calling script, in WHO's name, when the
# build folder lacks one of the files.
require_built() {
    local who=$1 file
    shift
    for file in "$@"; do
        if [ ! -f "$QUENDRIX_BUILD/$file" ]; then
            echo "$who: $QUENDRIX_BUILD/$file is missing; build first (make)" >&2
            exit 1
        fi
    done
}
