#!/usr/bin/env bash
# make demo: the plug-in at work in the stand-in host program, unattended, on
# the bundled sample shop. The program works on a fresh copy in the build
# folder (BUILD, default build), so the repository's data/sample-shop.json is
# never changed; the copy is left there, compared and saved, to look at.
# Arguments go to the program, e.g. tools/demo.sh --interactive for a menu
# in which you choose the documents and answer yourself.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-build}
case $build in
    /*) ;;
    *) build=$root/$build ;;
esac
BUILD=$build source "$root/tools/wine-env.sh"

for file in veldan_host.exe VELDAN.dll Quendrix.dll; do
    if [ ! -f "$build/$file" ]; then
        echo "demo: $build/$file is missing; build first (make)" >&2
        exit 1
    fi
done
sample=$root/data/sample-shop.json
if [ ! -r "$sample" ]; then
    echo "demo: the sample data $sample is missing or unreadable" >&2
    exit 1
fi

work=$build/demo
mkdir -p "$work"
cp "$sample" "$work/sample-shop.json"
rm -f "$work/veldan.ini"  # a fresh settings file: the install notice shows

# Paths as the user sees them from the project folder, where it runs.
cd "$root"
relative=${work#"$root"/}
exec wine "$build/veldan_host.exe" --data "$relative/sample-shop.json" \
    --profile "$relative/veldan.ini" "$@"
