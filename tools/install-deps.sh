#!/usr/bin/env bash
# Installs what the build and the tests need, once. Quick when all is present.
set -euo pipefail

# The native build (fuzz/): clang with its 32-bit sanitizer and libFuzzer
# runtimes, and the 32-bit C++ headers and libraries.
packages=(g++-mingw-w64-i686-posix wine wine32:i386 cmake make googletest unzip
          python3 clang-format clang libclang-rt-14-dev g++-multilib)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
