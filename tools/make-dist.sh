#!/usr/bin/env bash
# make-dist.sh BUILD OUT: the release package from a built Quendrix.dll.
#
# OUT/Quendrix-<version>.zip holds, in this order: Quendrix.dll without debug
# information and symbols, Quendrix.ini, INSTALACJA.txt and SHA256SUMS of the
# three (CR LF line ends, as Notepad shows them). INSTALACJA.txt is
# plugin/INSTALACJA.txt with its version (frame/version.h) written at the top
# and the supplier's support contact (plugin/support-contact.txt) in point 9,
# filled in before the sums are made.
#
# A package for shops comes only from a support contact filled in and a tree
# with every change committed. Otherwise the package is a draft: named
# Quendrix-<version>-draft.zip, saying so at the top of INSTALACJA.txt, and
# the output says why. A package of the same version made before, draft or
# not, is replaced.
#
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

# Whether the tree is the commit's: files git does not know count too, since
# the build takes in every source file of a folder.
if ! changes=$(git -C "$root" --no-optional-locks status --porcelain 2>/dev/null); then
    tree=unknown
elif [ -n "$changes" ]; then
    tree=changed
else
    tree=committed
fi

# INSTALACJA.txt filled in, and why the package is a draft (a line each in
# "why", none for a package for shops).
python3 - "$root/plugin/INSTALACJA.txt" "$root/plugin/support-contact.txt" "$version" "$tree" \
    "$stage/INSTALACJA.txt" "$stage/why" <<'PY'
import sys
template, contact, version, tree, target, why = sys.argv[1:]


def fail(message):
    sys.exit(f"make-dist: {message}")


try:
    text = open(contact, encoding="utf-8-sig").read()
except UnicodeDecodeError as error:
    fail(f"{contact} is not UTF-8 (byte {error.start}); save it as UTF-8")
lines = [line.rstrip() for line in text.splitlines() if not line.startswith("#")]
while lines and not lines[0]:
    lines.pop(0)
while lines and not lines[-1]:
    lines.pop()

# Each reason as the output says it and as INSTALACJA.txt does.
reasons = []
if tree == "unknown":
    reasons.append(("whether the tree is committed cannot be told (git status failed)",
                    "nie wiadomo, czy zbudowano ją z zatwierdzonego stanu repozytorium"))
elif tree == "changed":
    reasons.append(("the tree has changes not committed (git status)",
                    "zbudowano ją ze zmian niezatwierdzonych w repozytorium"))
if not lines or "Miejsce do uzupełnienia" in "\n".join(lines):
    reasons.append(("plugin/support-contact.txt still holds the placeholder, not the "
                    "supplier's support contact",
                    "w punkcie 9 brak danych pomocy technicznej dostawcy"))
with open(why, "w", encoding="utf-8") as f:
    f.writelines(said + "\n" for said, _ in reasons)

raw = open(template, "rb").read()
if not raw.startswith(b"\xef\xbb\xbf") or raw.count(b"\n") != raw.count(b"\r\n"):
    fail(f"{template} is not UTF-8 with a byte-order mark and CR LF line ends")
page = raw[3:].decode("utf-8")
heading = [f"Wersja {version}"]
if reasons:
    heading = [f"Wersja {version} – WERSJA ROBOCZA, NIE DO PRZEKAZANIA SKLEPOWI:"]
    heading += [f"  - {said};" for _, said in reasons]
    heading[-1] = heading[-1][:-1] + "."
for marker, filled in (("{{WERSJA}}", heading), ("{{POMOC_TECHNICZNA}}", lines)):
    if page.count(marker + "\r\n") != 1:
        fail(f"{template}: {marker} is not on a line of its own, once")
    page = page.replace(marker + "\r\n", "".join(line + "\r\n" for line in filled))
if "{{" in page:
    fail(f"{template}: a marker left unfilled: {page[page.index('{{'):].splitlines()[0]}")
open(target, "wb").write(b"\xef\xbb\xbf" + page.encode("utf-8"))
PY

draft=""
[ -s "$stage/why" ] && draft="-draft"
zip="$out/Quendrix-$version$draft.zip"
rm -f "$out/Quendrix-$version.zip" "$out/Quendrix-$version-draft.zip"

export SOURCE_DATE_EPOCH=0
# The debug file first: the link in the DLL carries its CRC.
"$objcopy" --only-keep-debug "$build/Quendrix.dll" "$out/Quendrix.dll.debug"
"$objcopy" --strip-all --add-gnu-debuglink="$out/Quendrix.dll.debug" \
    "$build/Quendrix.dll" "$stage/Quendrix.dll"
cp "$root/plugin/Quendrix.ini" "$stage/"
(cd "$stage" && sha256sum -b Quendrix.dll Quendrix.ini INSTALACJA.txt | sed 's/$/\r/' >SHA256SUMS)

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
if [ -n "$draft" ]; then
    echo "make-dist: a draft, not for shops, because:"
    sed 's/^/  - /' "$stage/why"
fi
