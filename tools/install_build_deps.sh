#!/usr/bin/env bash
# Installs what building and testing Dwarfsift needs on Debian 12: a C++20
# compiler, CMake, Ninja and GoogleTest (binutils' readelf is used by tests).
# Only missing packages are fetched; sudo is used when not running as root.
set -euo pipefail

# llvm brings llvm-dwarfdump, which some tests use to cross-check decoding.
PACKAGES=(g++ cmake ninja-build libgtest-dev binutils llvm)

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
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
