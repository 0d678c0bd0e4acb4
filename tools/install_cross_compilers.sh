#!/usr/bin/env bash
# Installs the Debian cross compilers used to rebuild examples/blinky.elf
# (examples/build.sh) and the test inputs in tests/data/ (tests/data/build.sh).
# Only packages that are not installed yet are fetched. Uses sudo when not
# running as root.
set -euo pipefail

PACKAGES=(
    gcc                    # host compiler, also builds the 32-bit x86 input
    binutils               # readelf, used by the build scripts' checks
    llvm                   # llvm-dwarfdump, records the decoded line rows
    gcc-arm-none-eabi
    libnewlib-arm-none-eabi
    gcc-powerpc-linux-gnu
    g++-powerpc-linux-gnu  # the big-endian C++ input
    gcc-mips-linux-gnu
    gcc-sh4-linux-gnu
    clang-19               # the clang-built inputs (Arm Thumb targets)
    lld-19                 # their linker
)

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$pkg")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "all cross compilers are already installed: ${PACKAGES[*]}"
    exit 0
fi

if ! command -v apt-get >/dev/null 2>&1; then
    echo "error: apt-get not found; install these Debian packages by other means: ${missing[*]}" >&2
    exit 1
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "error: not root and sudo is not available; cannot install: ${missing[*]}" >&2
        exit 1
    fi
    SUDO=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
echo "installing: ${missing[*]}"
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
echo "installed: ${missing[*]}"
