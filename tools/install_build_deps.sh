#!/usr/bin/env bash
# Installs what building Dwarfsift needs on Debian 12, and with --tests what
# its tests need too. Only missing packages are fetched; sudo is used when
# not running as root.
#   g++, cmake, ninja-build  the compiler and the build
#   zlib1g-dev, libzstd-dev  zlib and zstd, which inflate compressed
#                            debugging sections (the tool links both)
#   libgtest-dev             GoogleTest; the build configures the test suite
#   binutils, llvm           (--tests) readelf and llvm-dwarfdump, which tests
#                            use to cross-check the decoding
#   g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev, wine64
#                            (--tests) the Windows build, its static zlib
#                            (Debian has no MinGW zstd: that build reads no
#                            zstd sections) and a way to run it
set -euo pipefail

PACKAGES=(g++ cmake ninja-build zlib1g-dev libzstd-dev libgtest-dev)
if [[ ${1:-} == --tests ]]; then
    PACKAGES+=(binutils llvm g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64)
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$pkg")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if ! command -v apt-get >/dev/null 2>&1; then
    echo "error: apt-get not found; install these packages by other means: ${missing[*]}" >&2
    exit 1
fi
SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null 2>&1 || { echo "error: not root and no sudo; install: ${missing[*]}" >&2; exit 1; }
    SUDO=(sudo)
fi
echo "installing: ${missing[*]}"
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y \
    --no-install-recommends "${missing[@]}"
