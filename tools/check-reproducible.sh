#!/usr/bin/env bash
# check-reproducible.sh: builds the package twice from clean clones of HEAD in
# two unrelated temporary folders and requires the same bytes from both: the
# zip, the stripped Quendrix.dll inside it, the debug file and the unstripped
# build output. Uncommitted changes are not part of the check.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
    echo "note: uncommitted changes are left out; checking $commit"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Different depths and names, so that no path can cancel out.
first=$work/a/quendrix
second=$work/another/folder/q-$RANDOM
for tree in "$first" "$second"; do
    echo "== building $commit in $tree"
    git clone -q "$root" "$tree"
    git -C "$tree" checkout -q --detach "$commit"
    make -C "$tree" dist JOBS="${JOBS:-$(nproc)}" >"$tree.log" 2>&1 ||
        { tail -n 30 "$tree.log"; echo "make dist failed in $tree"; exit 1; }
done

status=0
for file in dist/Quendrix-*.zip dist/Quendrix.dll.debug build/Quendrix.dll; do
    one=$(cd "$first" && ls $file)
    if cmp -s "$first/$one" "$second/$one"; then
        echo "same:    $one  $(sha256sum <"$first/$one" | cut -c1-16)  $(stat -c %s "$first/$one") bytes"
    else
        echo "DIFFERS: $one"
        cmp -l "$first/$one" "$second/$one" | head -n 5 || true
        status=1
    fi
done
mkdir "$work/x" "$work/y"
(cd "$work/x" && unzip -q "$first"/dist/Quendrix-*.zip)
(cd "$work/y" && unzip -q "$second"/dist/Quendrix-*.zip)
if cmp -s "$work/x/Quendrix.dll" "$work/y/Quendrix.dll"; then
    echo "same:    Quendrix.dll (shipped)  $(stat -c %s "$work/x/Quendrix.dll") bytes"
else
    echo "DIFFERS: Quendrix.dll (shipped)"
    status=1
fi
[ $status -eq 0 ] && echo "Reproducible: both builds of $commit are byte-identical."
exit $status
