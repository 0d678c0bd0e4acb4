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
#   tools/damage_elf.sh size SECTION BYTES INPUT OUTPUT
#       the section header of SECTION gives size BYTES (a compressed
#       section's stream cut short, or a section reaching past the file)
#   tools/damage_elf.sh patch SECTION OFFSET HEX INPUT OUTPUT
#       the bytes HEX (pairs of hex digits, as they are to be stored) are
#       written at OFFSET within SECTION (a compressed section's header or
#       stream)
#
# Needs readelf (Debian package binutils).
set -euo pipefail
export LC_ALL=C

die() {
    echo "error: $*" >&2
    exit 1
}

action=${1:-}
case $action in
empty | zero) [[ $# -eq 4 ]] || die "usage: $0 $action SECTION INPUT OUTPUT" ;;
size) [[ $# -eq 5 ]] || die "usage: $0 size SECTION BYTES INPUT OUTPUT" ;;
patch) [[ $# -eq 6 ]] || die "usage: $0 patch SECTION OFFSET HEX INPUT OUTPUT" ;;
*) die "unknown damage '$action' (empty, zero, size or patch)" ;;
esac
section=$2 input=${*: -2:1} output=${*: -1}
command -v readelf >/dev/null 2>&1 || die "readelf not found; install the Debian package binutils"

header=$(readelf -h "$input") || die "$input is no ELF file"
grep -q 'Class: *ELF32' <<<"$header" || die "$input is not a 32-bit ELF file"
big=0
grep -q 'Data:.*big endian' <<<"$header" && big=1
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

# put HEX POSITION: stores the bytes HEX at POSITION of the output.
put() {
    local hex=$1 position=$2 escaped
    escaped=$(sed 's/../\\x&/g' <<<"$hex")
    printf '%b' "$escaped" | dd of="$output" bs=1 seek="$position" conv=notrunc status=none
}
# word VALUE: the 4-byte field VALUE in the file's byte order, as hex.
word() {
    local hex
    hex=$(printf '%08X' "$1")
    ((big)) && echo "$hex" || echo "${hex:6:2}${hex:4:2}${hex:2:2}${hex:0:2}"
}

cp -f "$input" "$output"
# sh_size is the sixth word of an Elf32_Shdr.
case $action in
empty) put "$(word 0)" $((table + index * entry + 20)) ;;
size) put "$(word "$3")" $((table + index * entry + 20)) ;;
zero)
    head -c $((16#$size)) /dev/zero |
        dd of="$output" bs=1 seek=$((16#$offset)) conv=notrunc status=none
    ;;
patch) put "$4" $((16#$offset + $3)) ;;
esac
