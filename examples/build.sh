#!/usr/bin/env bash
# Rebuilds examples/blinky.elf, the bundled Cortex-M4 example, from
# examples/blinky/. Run from any directory; the output is reproducible
# (no build-host paths in the debugging information).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")"
export LC_ALL=C

CC=arm-none-eabi-gcc
if ! command -v "$CC" >/dev/null 2>&1; then
    echo "error: $CC not found; install the Debian package gcc-arm-none-eabi" >&2
    echo "       (or run tools/install_cross_compilers.sh)" >&2
    exit 1
fi

OUT=blinky.elf
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

"$CC" -mcpu=cortex-m4 -mthumb -O1 -gdwarf-3 -nostdlib -ffreestanding \
    -Wall -Wextra \
    -ffile-prefix-map="$PWD"=. \
    -T blinky/blinky.ld \
    -Wl,--build-id=none \
    -o "$TMP/$OUT" \
    blinky/startup.c blinky/main.c

# Sanity checks on the result before it replaces the bundled file.
if command -v readelf >/dev/null 2>&1; then
    sections=$(readelf -SW "$TMP/$OUT" | sed -n 's/^ *\[ *[0-9]*\] \([^ ]*\).*/\1/p')
    for s in .isr_vector .text .rodata .data .bss \
        .debug_info .debug_abbrev .debug_line .debug_str .symtab .strtab; do
        grep -qx -- "$s" <<<"$sections" || { echo "error: $OUT has no $s section" >&2; exit 1; }
    done
    versions=$(readelf --debug-dump=info "$TMP/$OUT" 2>/dev/null |
        sed -n 's/^ *Version: *\([0-9]*\)$/\1/p' | sort -u | tr '\n' ' ')
    [[ $versions == "3 " ]] || { echo "error: $OUT: expected DWARF 3 units, found: $versions" >&2; exit 1; }
    if grep -q -- "$PWD" "$TMP/$OUT"; then
        echo "error: $OUT contains the build directory path $PWD" >&2
        exit 1
    fi
fi

mv -f "$TMP/$OUT" "$OUT"
echo "built examples/$OUT ($(wc -c <"$OUT") bytes) with $("$CC" -dumpversion) -O1 -gdwarf-3"
