#!/usr/bin/env bash
# Rebuilds the real-compiler test inputs in tests/data/ from tests/data/src/.
#
# Every file is a static, freestanding 32-bit ELF executable (no libc, no
# start files; _start in src/main.c is the entry point). The builds are
# reproducible: build-host paths are mapped to "." in the debugging
# information and no build ID is written, so running this script twice
# gives byte-identical files.
#
# Each output is checked after linking: ELF class, the sections the test
# suite relies on, and the DWARF version of every compilation unit.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")"
export LC_ALL=C

SRCS=(src/main.c src/geometry.c)
HEADERS=(src/common.h)

# Flags shared by every target.
# shellcheck disable=SC2054 # the commas belong to -Wl, options
COMMON=(
    -nostdlib -ffreestanding -static -fno-stack-protector
    -Wall -Wextra
    "-ffile-prefix-map=$PWD=."
    -Wl,--build-id=none
    -Wl,-e,_start
    -Wl,-z,max-page-size=0x1000
    -Wl,-z,noseparate-code
)

REQUIRED_SECTIONS=(.debug_info .debug_abbrev .debug_line .debug_str .symtab .strtab)

die() {
    echo "error: $*" >&2
    exit 1
}

# need COMPILER DEBIAN-PACKAGE
need() {
    if ! command -v "$1" >/dev/null 2>&1; then
        die "$1 not found; install the Debian package $2 (or run tools/install_cross_compilers.sh)"
    fi
}

command -v readelf >/dev/null 2>&1 || die "readelf not found; install the Debian package binutils"

need arm-none-eabi-gcc gcc-arm-none-eabi
need powerpc-linux-gnu-gcc gcc-powerpc-linux-gnu
need mips-linux-gnu-gcc gcc-mips-linux-gnu
need sh4-linux-gnu-gcc gcc-sh4-linux-gnu
need gcc gcc

for f in "${SRCS[@]}" "${HEADERS[@]}"; do
    [[ -f $f ]] || die "missing source file tests/data/$f"
done

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# check OUTPUT EXPECTED-DATA EXPECTED-DWARF-VERSION
# EXPECTED-DATA is "little" or "big".
check() {
    local out=$1 data=$2 version=$3 header sections versions s name
    name=$(basename "$out")
    header=$(readelf -h "$out")
    grep -q 'Class: *ELF32' <<<"$header" || die "$name is not ELFCLASS32"
    grep -q "Data: *2's complement, $data endian" <<<"$header" || die "$name is not $data-endian"
    grep -q 'Type: *EXEC' <<<"$header" || die "$name is not an executable"
    sections=$(readelf -SW "$out" | sed -n 's/^ *\[ *[0-9]*\] \([^ ]*\).*/\1/p')
    for s in "${REQUIRED_SECTIONS[@]}"; do
        grep -qx -- "$s" <<<"$sections" || die "$name has no $s section"
    done
    versions=$(readelf --debug-dump=info "$out" 2>/dev/null |
        sed -n 's/^ *Version: *\([0-9]*\)$/\1/p' | sort -u | tr '\n' ' ')
    [[ $versions == "$version " ]] ||
        die "$name: expected DWARF $version units only, found: ${versions:-none}"
    if grep -q -- "$PWD" "$out"; then
        die "$name contains the build directory path $PWD"
    fi
}

# build OUTPUT DATA DWARF-VERSION COMPILER FLAGS...
build() {
    local out=$1 data=$2 version=$3 cc=$4
    shift 4
    "$cc" "$@" "${COMMON[@]}" -o "$TMP/$out" "${SRCS[@]}"
    check "$TMP/$out" "$data" "$version"
    mv -f "$TMP/$out" "$out"
    printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$out" "$(wc -c <"$out")" "$cc" "$*"
}

ARM=(-mcpu=cortex-m4 -mthumb)
MIPS=(-mno-abicalls -fno-pic -G0)

build arm_le_dw3_o0.elf little 3 arm-none-eabi-gcc "${ARM[@]}" -O0 -gdwarf-3
build arm_le_dw4_o2.elf little 4 arm-none-eabi-gcc "${ARM[@]}" -O2 -gdwarf-4
build ppc_be_dw2_o0.elf big 2 powerpc-linux-gnu-gcc -O0 -gdwarf-2
build ppc_be_dw4_o2.elf big 4 powerpc-linux-gnu-gcc -O2 -gdwarf-4
build mips_be_dw3_o1.elf big 3 mips-linux-gnu-gcc "${MIPS[@]}" -O1 -gdwarf-3
build sh4_le_dw2_o1.elf little 2 sh4-linux-gnu-gcc -ml -O1 -gdwarf-2

# 32-bit x86 with the host compiler: needs no 32-bit libraries because
# nothing is linked but our own code. Skipped (not fatal) if the host gcc
# cannot produce 32-bit x86 code at all, e.g. on a non-x86 build machine.
if echo 'int x;' | gcc -m32 -x c -c -o "$TMP/probe.o" - >/dev/null 2>&1; then
    build i386_le_dw4_o0.elf little 4 gcc -m32 -fno-pie -no-pie -O0 -gdwarf-4
else
    echo "skipped tests/data/i386_le_dw4_o0.elf: host gcc cannot compile with -m32" >&2
fi
