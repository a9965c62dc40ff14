#!/usr/bin/env bash
# make-dist.sh BUILD OUT: the release package from a built Quendrix.dll.
#
# OUT/Quendrix-<version>.zip holds, in this order: Quendrix.dll without debug
# information and symbols, Quendrix.ini, INSTALACJA.txt and SHA256SUMS of the
# three, each as plugin/ keeps it.
# The debug information goes to OUT/Quendrix.dll.debug, which the DLL names in
# its .gnu_debuglink section (with the file's CRC), so gdb finds it beside it.
#
# Every byte follows from the commit: objcopy writes a PE time stamp of 0, as
# the linker does with --no-insert-timestamp (SOURCE_DATE_EPOCH=0), and the
# zip's entries carry the commit's time, fixed permissions and no extra fields.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: make-dist.sh BUILD OUT}
out=${2:?usage: make-dist.sh BUILD OUT}
objcopy=${OBJCOPY:-i686-w64-mingw32-objcopy}

version=$(sed -n 's/^#define QUENDRIX_VERSION_TEXT "\([0-9.]*\)"$/\1/p' "$root/frame/version.h")
[ -n "$version" ] || { echo "make-dist: no version in frame/version.h" >&2; exit 1; }
[ -f "$build/Quendrix.dll" ] || { echo "make-dist: $build/Quendrix.dll is not built" >&2; exit 1; }
# The entries' time: the commit's, or 1 January 1980 outside a git checkout.
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)

mkdir -p "$out"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

export SOURCE_DATE_EPOCH=0
# The debug file first: the link in the DLL carries its CRC.
"$objcopy" --only-keep-debug "$build/Quendrix.dll" "$out/Quendrix.dll.debug"
"$objcopy" --strip-all --add-gnu-debuglink="$out/Quendrix.dll.debug" \
    "$build/Quendrix.dll" "$stage/Quendrix.dll"
cp "$root/plugin/Quendrix.ini" "$root/plugin/INSTALACJA.txt" "$stage/"
(cd "$stage" && sha256sum -b Quendrix.dll Quendrix.ini INSTALACJA.txt >SHA256SUMS)

zip="$out/Quendrix-$version.zip"
python3 - "$stage" "$zip" "$stamp" <<'PY'
import sys, time, zipfile
stage, target, stamp = sys.argv[1], sys.argv[2], int(sys.argv[3])
when = time.gmtime(max(stamp, 315532800))[:6]
with zipfile.ZipFile(target, "w") as archive:
    for name in ("Quendrix.dll", "Quendrix.ini", "INSTALACJA.txt", "SHA256SUMS"):
        entry = zipfile.ZipInfo(name, date_time=when)
        entry.create_system = 0  # MS-DOS: attributes as Windows reads them
        entry.external_attr = 0x20  # archive bit, nothing else
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(f"{stage}/{name}", "rb") as f:
            archive.writestr(entry, f.read(), compresslevel=9)
PY
echo "$zip: $(stat -c %s "$stage/Quendrix.dll") bytes of Quendrix.dll"
