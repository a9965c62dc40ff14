# The Wine environment of every run of the project's Windows programs: the
# tests, the demo, the benchmark and the host program on a user's own file.
# Source it with BUILD set to the build folder (default: build beside tools/).
# A private prefix in the build folder keeps ~/.wine untouched; no Mono or
# Gecko installer, no debug chatter.
_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
_wine_env_build=${BUILD:-build}
case $_wine_env_build in
    /*) ;;
    *) _wine_env_build=$_wine_env_root/$_wine_env_build ;;
esac
export WINEPREFIX=${WINEPREFIX:-$_wine_env_build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset _wine_env_root _wine_env_build
