#!/usr/bin/env bash
# Writes a damaged copy of a 32-bit ELF file, the way damaged firmware
# reaches the tool, for the fuzz seeds in tests/fuzz/seeds:
#
#   tools/damage_elf.sh empty SECTION INPUT OUTPUT
#       the section header of SECTION gives size 0 (for .debug_str: every
#       name the debugging entries hold by offset reads empty)
#   tools/damage_elf.sh zero SECTION INPUT OUTPUT
#       every byte of SECTION is 0 (for .debug_info: a run of empty units
#       that all name the abbreviation table at offset 0)
#
# Needs readelf (Debian package binutils).
set -euo pipefail
export LC_ALL=C

die() {
    echo "error: $*" >&2
    exit 1
}

[[ $# -eq 4 ]] || die "usage: $0 empty|zero SECTION INPUT OUTPUT"
action=$1 section=$2 input=$3 output=$4
[[ $action == empty || $action == zero ]] || die "unknown damage '$action' (empty or zero)"
command -v readelf >/dev/null 2>&1 || die "readelf not found; install the Debian package binutils"

header=$(readelf -h "$input") || die "$input is no ELF file"
grep -q 'Class: *ELF32' <<<"$header" || die "$input is not a 32-bit ELF file"
table=$(sed -n 's/^ *Start of section headers: *\([0-9]*\) .*/\1/p' <<<"$header")
entry=$(sed -n 's/^ *Size of section headers: *\([0-9]*\) .*/\1/p' <<<"$header")

# "[Nr] Name Type Addr Off Size ...": index, file offset and size (hex).
read -r index offset size < <(readelf -W -S "$input" | awk -v name="$section" '
    /^ *\[ *[0-9]+\]/ {
        line = $0
        sub(/^ *\[ */, "", line)
        split(line, f, /[] ]+/)
        if (f[2] == name) { print f[1], f[5], f[6]; exit }
    }') || true
[[ -n ${index:-} ]] || die "$input has no section $section"

cp -f "$input" "$output"
if [[ $action == empty ]]; then
    # sh_size is the sixth word of an Elf32_Shdr; 0 reads the same in
    # either byte order.
    head -c 4 /dev/zero |
        dd of="$output" bs=1 seek=$((table + index * entry + 20)) conv=notrunc status=none
else
    head -c $((16#$size)) /dev/zero |
        dd of="$output" bs=1 seek=$((16#$offset)) conv=notrunc status=none
fi
