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
# The smaller three-unit program of the line-table inputs; the ARM builds add
# a C++ unit.
LINE_SRCS=(src/start.c src/filter.c src/scale.c)
CXX_SRCS=(src/ratio.cc)
# The type-description inputs: one global of each kind of type.
TYPE_SRCS=(src/types.c)
# The optimised frame-base inputs: values kept in stack slots for part of
# their lives.
SPILL_SRCS=(src/spill.c)
# The C++ class inputs: classes with base classes and a static member.
CLASS_SRCS=(src/classes.cc)

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

# The compressed twins in compressed/: a few of the inputs below with their
# debugging sections compressed each way a user's tools compress them
# (SHF_COMPRESSED with zlib or zstd, and the GNU .zdebug_* sections). Each
# must convert to exactly the files its plain input gives. The host objcopy
# (binutils) knows only the host's machines; llvm-objcopy knows every
# machine, but not zstd. "./build.sh compressed" makes only these, from the
# committed inputs; no cross compiler is needed for them.
compressed_twins() {
    local input kind tool out
    command -v objcopy >/dev/null 2>&1 || die "objcopy not found; install the Debian package binutils"
    command -v llvm-objcopy >/dev/null 2>&1 || die "llvm-objcopy not found; install the Debian package llvm"
    mkdir -p compressed
    for twin in i386_le_dw4_o0:zlib i386_le_dw4_o0:zstd i386_le_dw4_o0:zlib-gnu \
        i386_le_dw5_o0:zlib i386_le_dw5_o0:zstd arm_le_dw5_o2:zlib \
        ppc_be_dw4_o2:zlib ppc_be_dw4_o2:zlib-gnu mips_be_dw4_o0:zlib; do
        IFS=: read -r input kind <<<"$twin"
        tool=llvm-objcopy
        [[ $input == i386_* ]] && tool=objcopy
        out=compressed/$input.$kind.elf
        "$tool" --compress-debug-sections="$kind" "$input.elf" "$out"
        # objcopy leaves a section plain when compressing would not shrink
        # it, but never .debug_info.
        readelf -S -W "$out" | grep -Eq '\] (\.zdebug_info |\.debug_info .* [A-Z]*C[A-Z]* )' ||
            die "$out: .debug_info left plain"
        printf 'built tests/data/%-34s %6d bytes  %s --compress-debug-sections=%s\n' \
            "$out" "$(wc -c <"$out")" "$tool" "$kind"
    done
    compression_seeds
}

# Fuzz seeds made from the compressed twins, each damaging the compressed
# .debug_line one way: a claimed size the stream does not deliver (more,
# fewer, beyond any sane bound), a stream cut short or corrupt, an unknown
# compression type, a header cut short or without its "ZLIB", a section
# reaching past the file. The test DamagedCompression runs every one.
compression_seeds() {
    local damage=../../tools/damage_elf.sh seeds=../fuzz/seeds
    local zlib=compressed/i386_le_dw4_o0.zlib.elf zstd=compressed/i386_le_dw4_o0.zstd.elf
    local gnu=compressed/i386_le_dw4_o0.zlib-gnu.elf be=compressed/ppc_be_dw4_o2.zlib.elf
    # Elf32_Chdr (little-endian here): type at 0, size at 4; the stream at 12.
    $damage patch .debug_line 4 00000100 "$zlib" $seeds/zlib_size_not_delivered.elf
    $damage patch .debug_line 4 10000000 "$zlib" $seeds/zlib_size_exceeded.elf
    $damage patch .debug_line 4 F0FFFFFF "$zlib" $seeds/zlib_size_beyond_bound.elf
    $damage patch .debug_line 0 07000000 "$zlib" $seeds/zlib_unknown_type.elf
    $damage patch .debug_line 14 FFFFFFFF "$zlib" $seeds/zlib_stream_corrupt.elf
    $damage size .debug_line 100 "$zlib" $seeds/zlib_stream_cut_short.elf
    $damage size .debug_line 8 "$zlib" $seeds/zlib_header_cut_short.elf
    $damage size .debug_line 2147483647 "$zlib" $seeds/zlib_section_past_the_file.elf
    $damage patch .debug_line 4 00010000 "$be" $seeds/zlib_big_endian_size_not_delivered.elf
    $damage patch .debug_line 12 FFFFFFFF "$zstd" $seeds/zstd_stream_corrupt.elf
    $damage size .debug_line 40 "$zstd" $seeds/zstd_stream_cut_short.elf
    # The GNU header: "ZLIB", then the size in 8 big-endian bytes.
    $damage patch .zdebug_line 0 5A4C4958 "$gnu" $seeds/gnu_no_zlib_mark.elf
    $damage patch .zdebug_line 4 0000010000000000 "$gnu" $seeds/gnu_size_beyond_bound.elf
}
if [[ ${1:-} == compressed ]]; then
    compressed_twins
    exit 0
fi

command -v readelf >/dev/null 2>&1 || die "readelf not found; install the Debian package binutils"
command -v llvm-dwarfdump >/dev/null 2>&1 || die "llvm-dwarfdump not found; install the Debian package llvm"

need arm-none-eabi-gcc gcc-arm-none-eabi
need powerpc-linux-gnu-gcc gcc-powerpc-linux-gnu
need mips-linux-gnu-gcc gcc-mips-linux-gnu
need sh4-linux-gnu-gcc gcc-sh4-linux-gnu
need gcc gcc
need arm-none-eabi-g++ gcc-arm-none-eabi
need powerpc-linux-gnu-g++ g++-powerpc-linux-gnu
need clang-19 clang-19
need clang++-19 clang-19
need ld.lld-19 lld-19

for f in "${SRCS[@]}" "${HEADERS[@]}" "${LINE_SRCS[@]}" "${CXX_SRCS[@]}" "${TYPE_SRCS[@]}" \
    "${SPILL_SRCS[@]}" "${CLASS_SRCS[@]}"; do
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

# facts ELF: writes <stem>.lines beside it, the facts the line tests check
# against, from tools other than ours:
#   unit OFFSET VERSION        a line-number unit (llvm-dwarfdump)
#   file INDEX NAME            its file table
#   row ADDRESS LINE KIND      a decoded row; KIND is how the program made it:
#                              copy, special, lower (a special opcode that
#                              lowered the line) or end (DW_LNE_end_sequence)
#   func VALUE NAME            a function symbol of nonzero size (readelf)
facts() {
    local elf=$1 lines=${1%.elf}.lines
    {
        echo "# Facts about $elf for the line tests, written by build.sh."
        # (llvm-dwarfdump warns on stderr that it cannot disassemble SH; the
        # line dump itself is complete.)
        llvm-dwarfdump --debug-line --verbose "$elf" 2>/dev/null | awk '
            /^debug_line\[/ { unit = substr($1, 12, 10); next }
            /^ *version: / { print "unit", unit, $2; next }
            /^file_names\[/ { sub(/\]:$/, "", $0); sub(/.*\[ */, "", $0); index_ = $0; next }
            /^ *name: "/ { name = $0; sub(/^ *name: "/, "", name); sub(/"$/, "", name)
                           print "file", index_, name; next }
            /DW_LNS_copy$/ { kind = "copy"; next }
            /DW_LNE_end_sequence$/ { kind = "end"; next }
            /address \+= .*line \+= / { kind = ($NF < 0) ? "lower" : "special"; next }
            /^ +0x[0-9a-f]+ +[0-9]+ / { print "row", "0x" substr($1, length($1) - 7), $2, kind; next }'
        readelf -sW "$elf" | awk '$4 == "FUNC" && $3 != 0 { print "func", "0x" $2, $8 }'
    } >"$lines"
}

# The awk function the fact writers share: a decimal or 0x-prefixed number.
AWK_NUM='
    function num(s,   i, v, d) {
        if (substr(s, 1, 2) != "0x") return s + 0
        v = 0
        for (i = 3; i <= length(s); i++) {
            d = index("0123456789abcdef", tolower(substr(s, i, 1)))
            v = v * 16 + d - 1
        }
        return v
    }'

# member_facts ELF: writes <stem>.members beside it, the structure layouts
# the member tests check against (llvm-dwarfdump):
#   struct OFFSET              a structure or union type with its size
#   member OFFSET NAME BYTE BIT_SIZE BIT_OFFSET
#                              one of its direct members, in order; OFFSET
#                              is the structure's; absent bit values are -
member_facts() {
    local elf=$1 members=${1%.elf}.members
    {
        echo "# Structure members of $elf for the member tests, written by build.sh."
        llvm-dwarfdump --debug-info "$elf" 2>/dev/null | awk "$AWK_NUM"'
            function flush() {
                if (in_member && !declared) print "member", owner, name, byte, bits, bitoff
                in_member = 0
            }
            /^0x[0-9a-f]+: +DW_TAG_/ {
                flush()
                indent = match($0, /DW_TAG_/)
                if ($2 ~ /^DW_TAG_(structure|class|union)_type$/) {
                    owner = "0x" substr($1, 3, 8); owner_indent = indent
                    print "struct", owner
                } else if ($2 ~ /^DW_TAG_(member|inheritance)$/ && indent == owner_indent + 2) {
                    in_member = 1; name = "?"; byte = 0; bits = "-"; bitoff = "-"
                    declared = 0; base = $2 == "DW_TAG_inheritance"
                }
                next
            }
            in_member && /DW_AT_name/ { name = $0; sub(/.*\("/, "", name); sub(/"\).*/, "", name) }
            # A base class is a member named after the base; a static
            # member (a declaration) is not part of the layout.
            in_member && base && /DW_AT_type/ {
                name = $0; sub(/^[^"]*"/, "", name); sub(/"\).*/, "", name)
            }
            in_member && /DW_AT_declaration/ { declared = 1 }
            in_member && /DW_AT_data_member_location/ {
                v = $0; sub(/\)$/, "", v); n = split(v, parts, /[( ]/); byte = num(parts[n])
            }
            in_member && /DW_AT_bit_size/ { v = $0; gsub(/.*\(|\).*/, "", v); bits = num(v) }
            in_member && /DW_AT_bit_offset/ { v = $0; gsub(/.*\(|\).*/, "", v); bitoff = num(v) }
            END { flush() }'
    } >"$members"
}

# vars_facts ELF [defs] [outline]: writes <stem>.vars beside it, the
# variables the symbol tests check against (llvm-dwarfdump):
#   var NAME ADDRESS SIZE STRUCT_LEN
#                              a variable at a fixed address (its location
#                              is one DW_OP_addr), named and typed by its
#                              own entry or the entries it points back at
#                              (DW_AT_specification, DW_AT_abstract_origin).
#                              SIZE is the type's size, arrays counting every
#                              element; a structure or union, or an array of
#                              them, has SIZE 0 and its structure size as
#                              STRUCT_LEN, which is - for other types
#   local ADDRESS NAME         a parameter or local variable of the function
#                              with code at ADDRESS, through lexical blocks
#                              but outside inlined calls, with a location
#                              list or an expression starting with a
#                              register, register-plus-offset or frame-base
#                              operation
#   function ADDRESS external|static NAME
#                              a function with code (DW_AT_low_pc), named and
#                              flagged by its own entry or the entries it
#                              points back at (NAME may hold blanks)
# Compiler-made variables (DW_AT_artificial, names starting with a dot) are
# left out. With "defs" the file must hold a variable defined apart from its
# declaration, with "outline" an out-of-line instance whose parameters or
# locals carry DW_AT_abstract_origin and a location: the inputs built for
# them fail without.
vars_facts() {
    local elf=$1 vars=${1%.elf}.vars need_defs=0 need_outline=0 arg
    shift
    for arg; do
        case $arg in
        defs) need_defs=1 ;;
        outline) need_outline=1 ;;
        *) die "vars_facts: unknown requirement $arg" ;;
        esac
    done
    {
        echo "# Variables of ${elf##*/} for the symbol tests, written by build.sh."
        llvm-dwarfdump --debug-info "$elf" 2>/dev/null | awk -v elf="$elf" \
            -v need_defs="$need_defs" -v need_outline="$need_outline" "$AWK_NUM"'
            function fail(why) { print "error: " elf ": " why >"/dev/stderr"; bad = 1; exit 1 }
            # The value inside the parentheses of an attribute line.
            function value(   v) { v = $0; sub(/^[^(]*\(/, "", v); sub(/\)$/, "", v); return v }
            # A reference as the entry offset llvm-dwarfdump heads the
            # entry with: DW_FORM_ref_addr values are printed 16 digits wide.
            function reference(   v) {
                v = value(); sub(/ .*/, "", v); return sprintf("0x%08x", num(v))
            }
            # Follows DW_AT_specification and DW_AT_abstract_origin until
            # an entry has the attribute in `field`.
            function inherited(field, e,   hops) {
                for (hops = 0; hops < 8 && e != ""; hops++) {
                    if ((field, e) in attr) return attr[field, e]
                    e = (("back", e) in attr) ? attr["back", e] : ""
                }
                return ""
            }
            # Sets SIZE and STRUCT_LEN of the type at `t`.
            function measure(t, what,   count, hops, tag) {
                count = 1
                for (hops = 0; hops < 32; hops++) {
                    if (t == "" || !(t in tags)) fail("no type for " what)
                    tag = tags[t]
                    if (tag ~ /^DW_TAG_(typedef|const_type|volatile_type)$/) {
                        t = attr["type", t]; continue
                    }
                    if (tag == "DW_TAG_array_type") {
                        count *= (t in elements) ? elements[t] : 0
                        t = attr["type", t]; continue
                    }
                    # clang gives pointers and references no byte size.
                    if (!(("size", t) in attr) && tag ~ /^DW_TAG_(pointer|reference|rvalue_reference)_type$/)
                        attr["size", t] = 4
                    if (!(("size", t) in attr)) fail("no byte size for the type of " what)
                    if (tag ~ /^DW_TAG_(structure|union|class)_type$/) {
                        SIZE = 0; STRUCT_LEN = attr["size", t]
                    } else if (tag ~ /^DW_TAG_(base|enumeration|pointer|reference|rvalue_reference)_type$/) {
                        SIZE = attr["size", t] * count; STRUCT_LEN = "-"
                    } else {
                        fail("type " tag " of " what " not understood")
                    }
                    return
                }
                fail("type chain of " what " too long")
            }
            /^0x[0-9a-f]+: +(DW_TAG_|NULL)/ {
                column = match($0, /DW_TAG_|NULL/)
                while (depth > 0 && stack_column[depth] >= column) depth--
                if ($2 == "NULL") { entry = ""; next }
                entry = $1; sub(/:$/, "", entry)
                tags[entry] = $2; parent[entry] = depth ? stack[depth] : ""
                order[++entries] = entry
                stack[++depth] = entry; stack_column[depth] = column
                if ($2 == "DW_TAG_subrange_type" && parent[entry] != "") {
                    array = parent[entry]
                    if (!(array in elements)) elements[array] = 1
                }
                next
            }
            entry == "" || !/^ +DW_AT_/ { next }
            $1 == "DW_AT_name" { v = value(); sub(/^"/, "", v); sub(/"$/, "", v); attr["name", entry] = v }
            $1 == "DW_AT_type" { attr["type", entry] = reference() }
            $1 == "DW_AT_specification" { attr["back", entry] = reference(); attr["declared", entry] = 1 }
            $1 == "DW_AT_abstract_origin" { attr["back", entry] = reference(); attr["origin", entry] = 1 }
            $1 == "DW_AT_byte_size" { attr["size", entry] = num(value()) }
            $1 == "DW_AT_artificial" { attr["artificial", entry] = 1 }
            $1 == "DW_AT_low_pc" { attr["low", entry] = "0x" substr(value(), length(value()) - 7) }
            $1 == "DW_AT_external" { v = value(); attr["external", entry] = v != "false" && v != "0x00" }
            $1 == "DW_AT_location" {
                attr["location", entry] = 1
                # A list, or one expression of a shape the tool writes as a
                # register or frame local.
                v = value()
                if (v ~ /^(0x|indexed)/ || v ~ /^DW_OP_(b?reg[0-9x]|fbreg)/) attr["kept", entry] = 1
                if (match($0, /\(DW_OP_addr 0x[0-9a-f]+\)$/))
                    attr["address", entry] = substr($0, RSTART + 12, RLENGTH - 13)
            }
            tags[entry] == "DW_TAG_subrange_type" && $1 == "DW_AT_count" {
                elements[parent[entry]] *= num(value())
            }
            tags[entry] == "DW_TAG_subrange_type" && $1 == "DW_AT_upper_bound" {
                elements[parent[entry]] *= num(value()) + 1
            }
            END {
                if (bad) exit 1
                for (i = 1; i <= entries; i++) {
                    e = order[i]; tag = tags[e]
                    if (tag != "DW_TAG_variable" && tag != "DW_TAG_formal_parameter") continue
                    if (!(("location", e) in attr)) continue
                    name = inherited("name", e)
                    if (name == "" || name ~ /^\./ || inherited("artificial", e) != "") continue
                    if (tag == "DW_TAG_variable" && (("address", e) in attr)) {
                        measure(inherited("type", e), name)
                        print "var", name, attr["address", e], SIZE, STRUCT_LEN
                        if (("declared", e) in attr) ++declared
                    }
                    for (up = parent[e]; up != ""; up = parent[up]) {
                        if (tags[up] == "DW_TAG_inlined_subroutine") break
                        if (tags[up] != "DW_TAG_subprogram") continue
                        if ((("low", up) in attr) && (("kept", e) in attr)) {
                            print "local", attr["low", up], name
                            if (("origin", up) in attr && ("origin", e) in attr) ++outline
                        }
                        break
                    }
                }
                for (i = 1; i <= entries; i++) {
                    e = order[i]
                    if (tags[e] != "DW_TAG_subprogram" || !(("low", e) in attr)) continue
                    name = inherited("name", e)
                    if (name == "") continue
                    print "function", attr["low", e], inherited("external", e) ? "external" : "static", name
                }
                if (need_defs && !declared) fail("no variable with DW_AT_specification and an address")
                if (need_outline && !outline)
                    fail("no out-of-line instance whose locals have DW_AT_abstract_origin and a location")
            }'
    } >"$vars" || die "could not write the variables of $elf"
}

# frame_facts ELF: writes <stem>.frames beside it, the call frame rules the
# frame-base tests check against, decoded by readelf --debug-dump=frames-interp
# from .debug_frame when the file has one, else from .eh_frame (the section
# the tool reads):
#   section NAME               the section decoded
#   fde PC_BEGIN PC_END        a frame description entry and its code range
#   cfa LOC REG OFFSET         from LOC on, the CFA is register REG (DWARF
#                              number) plus OFFSET, until the next cfa line
#                              or PC_END
#   cfa LOC exp                from LOC on, the CFA is an expression
frame_facts() {
    local elf=$1 frames=${1%.elf}.frames section
    if readelf -SW "$elf" | grep -q ' \.debug_frame '; then
        section=.debug_frame
    elif readelf -SW "$elf" | grep -q ' \.eh_frame '; then
        section=.eh_frame
    else
        die "$elf has neither .debug_frame nor .eh_frame"
    fi
    {
        echo "# Call frame rules of $elf for the frame-base tests, written by build.sh."
        echo "section $section"
        readelf --debug-dump=frames-interp "$elf" | awk -v want="$section" -v elf="$elf" '
            function fail(why) { print "error: " elf ": " why ": " $0 >"/dev/stderr"; bad = 1; exit 1 }
            BEGIN {
                # readelf names the i386 registers; the other targets are rN.
                split("eax ecx edx ebx esp ebp esi edi", x86, " ")
                for (i = 1; i <= 8; i++) number[x86[i]] = i - 1
            }
            /^Contents of the / { active = ($4 == want); next }
            !active || /^ *$/ || /^ +LOC +CFA/ { next }
            / ZERO terminator$/ { in_fde = 0; next }
            $4 == "CIE" { in_fde = 0; next }
            $4 == "FDE" {
                if (!match($0, /pc=[0-9a-f]+\.\.[0-9a-f]+$/)) fail("FDE without a pc range")
                split(substr($0, RSTART + 3), pc, /\.\./)
                print "fde 0x" pc[1], "0x" pc[2]
                in_fde = 1; ++fdes; next
            }
            /^[0-9a-f]+ / {
                if (!in_fde) next  # the initial rules of a CIE
                if ($2 == "exp") { print "cfa 0x" $1, "exp"; next }
                if (!match($2, /^[a-z]+[0-9]*[+-][0-9]+$/)) fail("unknown CFA rule")
                reg = $2; sub(/[+-][0-9]+$/, "", reg)
                offset = substr($2, length(reg) + 1)
                if (reg ~ /^r[0-9]+$/) reg = substr(reg, 2) + 0
                else if (reg in number) reg = number[reg]
                else fail("unknown register name")
                print "cfa 0x" $1, reg, offset + 0
                next
            }
            { fail("line not understood") }
            END { if (!bad && fdes == 0) { print "error: " elf ": no FDE in " want >"/dev/stderr"; exit 1 } }'
    } >"$frames" || die "could not read the call frame rules of $elf"
}

# alloc_dump ELF: the loadable sections' bytes and the symbol table (less
# the symbols of the debugging sections, whose names change with the DWARF
# version), the parts of a file that its debugging information has no share
# in.
alloc_dump() {
    local elf=$1 s
    for s in $(readelf -SW "$elf" |
        awk '/^ *\[ *[0-9]+\]/ { sub(/^ *\[ *[0-9]+\] */, ""); if ($7 ~ /A/) print $1 }'); do
        readelf -x "$s" "$elf"
    done
    # By value, size, type, binding, visibility and name: a version 5 file
    # has more sections, which moves the section numbers. Symbols defined in
    # sections that are not loaded (the labels -flto leaves in its early
    # debugging information) belong to the debugging information.
    readelf -sW "$elf" | awk -v unloaded="$(readelf -SW "$elf" | awk '
        /^ *\[ *[0-9]+\]/ { i = $0; sub(/^ *\[ */, "", i); sub(/\].*/, "", i)
                            sub(/^ *\[ *[0-9]+\] */, ""); if ($7 !~ /A/) printf " %d ", i }')" '
        $1 ~ /^[0-9]+:$/ && !($4 == "SECTION" && $8 ~ /^\.debug_/) && index(unloaded, " " $7 " ") == 0 {
        print $2, $3, $4, $5, $6, $8 }'
}

# twin DWARF4-FILE OUTPUT DATA LAYOUT COMPILER FLAGS... -- SOURCES...
# The DWARF 5 twin of a committed DWARF 4 input: the same compiler, flags and
# sources with -gdwarf-5 (and version 5 line tables where the DWARF 4 file
# asked its assembler for version 4 ones). LAYOUT is "paged" or "packed"
# (-N), as the DWARF 4 file was linked. The twin must hold the same code and
# symbols as its DWARF 4 file, which is checked before it is kept: the test
# that compares their conversions relies on it. No fact files are written;
# the DWARF 4 file's facts stand for both.
twin() {
    local v4=$1 out=$2 data=$3 layout=$4 cc=$5 flags=() sources=() link=() f
    shift 5
    while [[ $1 != -- ]]; do
        f=$1
        shift
        case $f in
        -gdwarf-4) f=-gdwarf-5 ;;
        -Wa,--gdwarf-4) f=-Wa,--gdwarf-5 ;;
        esac
        flags+=("$f")
    done
    shift
    sources=("$@")
    [[ $layout == packed ]] && link=(-Wl,-N -Wl,--no-warn-rwx-segments)
    # The version 5 line tables name the assembler's working directory.
    "$cc" "${flags[@]}" "-Wa,--debug-prefix-map=$PWD=." "${COMMON[@]}" "${link[@]}" \
        -o "$TMP/$out" "${sources[@]}"
    check "$TMP/$out" "$data" 5
    [[ $(alloc_dump "$TMP/$out") == "$(alloc_dump "$v4")" ]] ||
        die "$out: its code or symbols differ from those of $v4"
    mv -f "$TMP/$out" "$out"
    printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$out" "$(wc -c <"$out")" "$cc" "${flags[*]}"
}

# build OUTPUT DATA DWARF-VERSION COMPILER FLAGS...
build() {
    local out=$1 data=$2 version=$3 cc=$4
    shift 4
    "$cc" "$@" "${COMMON[@]}" -o "$TMP/$out" "${SRCS[@]}"
    check "$TMP/$out" "$data" "$version"
    mv -f "$TMP/$out" "$out"
    facts "$out"
    member_facts "$out"
    frame_facts "$out"
    vars_facts "$out"
    printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$out" "$(wc -c <"$out")" "$cc" "$*"
}

# build_lines OUTPUT DATA DWARF-VERSION COMPILER FLAGS... -- SOURCES...
# The line-table inputs: packed without page alignment (-N) to stay small.
build_lines() {
    local out=$1 data=$2 version=$3 cc=$4 flags=() sources=()
    shift 4
    while [[ $1 != -- ]]; do flags+=("$1"); shift; done
    shift
    sources=("$@")
    "$cc" "${flags[@]}" "${COMMON[@]}" -Wl,-N -Wl,--no-warn-rwx-segments \
        -o "$TMP/$out" "${sources[@]}"
    check "$TMP/$out" "$data" "$version"
    mv -f "$TMP/$out" "$out"
    facts "$out"
    frame_facts "$out"
    vars_facts "$out"
    printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$out" "$(wc -c <"$out")" "$cc" "${flags[*]}"
}

# build_types OUTPUT DATA DWARF-VERSION COMPILER FLAGS...
build_types() {
    local out=$1 data=$2 version=$3 cc=$4
    shift 4
    "$cc" "$@" "${COMMON[@]}" -Wl,-N -Wl,--no-warn-rwx-segments -o "$TMP/$out" "${TYPE_SRCS[@]}"
    check "$TMP/$out" "$data" "$version"
    mv -f "$TMP/$out" "$out"
    member_facts "$out"
    frame_facts "$out"
    vars_facts "$out"
    printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$out" "$(wc -c <"$out")" "$cc" "$*"
}

# build_spill OUTPUT DATA DWARF-VERSION COMPILER FLAGS...
# build_classes OUTPUT DATA DWARF-VERSION COMPILER FLAGS...
build_classes() {
    local out=$1 data=$2 version=$3 cc=$4
    shift 4
    "$cc" "$@" -fno-exceptions -fno-rtti "${COMMON[@]}" -Wl,-N -Wl,--no-warn-rwx-segments \
        -o "$TMP/$out" "${CLASS_SRCS[@]}"
    check "$TMP/$out" "$data" "$version"
    grep -q DW_TAG_inheritance < <(llvm-dwarfdump --debug-info "$TMP/$out") ||
        die "$out: no base class in the debugging information"
    mv -f "$TMP/$out" "$out"
    member_facts "$out"
    vars_facts "$out"
    printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$out" "$(wc -c <"$out")" "$cc" "$*"
}

# The optimised frame-base inputs: one unit, linked with -N. They exist for
# their location lists that start at DW_OP_fbreg, so a compiler that writes
# none fails the build.
build_spill() {
    local out=$1 data=$2 version=$3 cc=$4 lists
    shift 4
    "$cc" "$@" "${COMMON[@]}" -Wl,-N -Wl,--no-warn-rwx-segments -o "$TMP/$out" "${SPILL_SRCS[@]}"
    check "$TMP/$out" "$data" "$version"
    lists=$(llvm-dwarfdump --debug-info "$TMP/$out" 2>/dev/null |
        grep -A1 'DW_AT_location.*(0x' | grep -c 'DW_OP_fbreg' || true)
    ((lists > 0)) || die "$out: no location list starts at DW_OP_fbreg"
    mv -f "$TMP/$out" "$out"
    frame_facts "$out"
    vars_facts "$out"
    printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$out" "$(wc -c <"$out")" "$cc" "$*"
}

ARM=(-mcpu=cortex-m4 -mthumb)
MIPS=(-mno-abicalls -fno-pic -G0)

build arm_le_dw3_o0.elf little 3 arm-none-eabi-gcc "${ARM[@]}" -O0 -gdwarf-3
build arm_le_dw4_o2.elf little 4 arm-none-eabi-gcc "${ARM[@]}" -O2 -gdwarf-4
twin arm_le_dw4_o2.elf arm_le_dw5_o2.elf little paged arm-none-eabi-gcc "${ARM[@]}" -O2 -gdwarf-4 \
    -- "${SRCS[@]}"
build ppc_be_dw2_o0.elf big 2 powerpc-linux-gnu-gcc -O0 -gdwarf-2
build ppc_be_dw4_o2.elf big 4 powerpc-linux-gnu-gcc -O2 -gdwarf-4
twin ppc_be_dw4_o2.elf ppc_be_dw5_o2.elf big paged powerpc-linux-gnu-gcc -O2 -gdwarf-4 \
    -- "${SRCS[@]}"
build mips_be_dw3_o1.elf big 3 mips-linux-gnu-gcc "${MIPS[@]}" -O1 -gdwarf-3
build sh4_le_dw2_o1.elf little 2 sh4-linux-gnu-gcc -ml -O1 -gdwarf-2

# 32-bit x86 with the host compiler: needs no 32-bit libraries because
# nothing is linked but our own code. Skipped (not fatal) if the host gcc
# cannot produce 32-bit x86 code at all, e.g. on a non-x86 build machine.
if echo 'int x;' | gcc -m32 -x c -c -o "$TMP/probe.o" - >/dev/null 2>&1; then
    build i386_le_dw4_o0.elf little 4 gcc -m32 -fno-pie -no-pie -O0 -gdwarf-4
    twin i386_le_dw4_o0.elf i386_le_dw5_o0.elf little paged gcc -m32 -fno-pie -no-pie -O0 \
        -gdwarf-4 -- "${SRCS[@]}"
    HOST_M32=1
else
    echo "skipped tests/data/i386_le_dw4_o0.elf: host gcc cannot compile with -m32" >&2
    HOST_M32=0
fi

# The line-table inputs: three C units (and a C++ one on ARM) whose line
# programs switch into the inline helpers of common.h. The cross assemblers
# write version 3 line tables unless told otherwise; the DWARF 4 builds ask
# for version 4 ones (-Wa,--gdwarf-4), whose header has one more field.
NOEXC=(-fno-exceptions)
build_lines arm_le_dw2_o2.elf little 2 arm-none-eabi-gcc "${ARM[@]}" "${NOEXC[@]}" -O2 -gdwarf-2 \
    -- "${LINE_SRCS[@]}" "${CXX_SRCS[@]}"
build_lines arm_le_dw4_o0.elf little 4 arm-none-eabi-gcc "${ARM[@]}" "${NOEXC[@]}" -O0 -gdwarf-4 \
    -Wa,--gdwarf-4 -- "${LINE_SRCS[@]}" "${CXX_SRCS[@]}"
twin arm_le_dw4_o0.elf arm_le_dw5_o0.elf little packed arm-none-eabi-gcc "${ARM[@]}" "${NOEXC[@]}" \
    -O0 -gdwarf-4 -Wa,--gdwarf-4 -- "${LINE_SRCS[@]}" "${CXX_SRCS[@]}"
build_lines sh4_le_dw3_o0.elf little 3 sh4-linux-gnu-gcc -ml -O0 -gdwarf-3 -- "${LINE_SRCS[@]}"
build_lines sh4_le_dw4_o2.elf little 4 sh4-linux-gnu-gcc -ml -O2 -gdwarf-4 -Wa,--gdwarf-4 \
    -- "${LINE_SRCS[@]}"
twin sh4_le_dw4_o2.elf sh4_le_dw5_o2.elf little packed sh4-linux-gnu-gcc -ml -O2 -gdwarf-4 \
    -Wa,--gdwarf-4 -- "${LINE_SRCS[@]}"
build_lines mips_be_dw2_o0.elf big 2 mips-linux-gnu-gcc "${MIPS[@]}" -O0 -gdwarf-2 -- "${LINE_SRCS[@]}"
build_lines mips_be_dw4_o2.elf big 4 mips-linux-gnu-gcc "${MIPS[@]}" -O2 -gdwarf-4 -Wa,--gdwarf-4 \
    -- "${LINE_SRCS[@]}"
twin mips_be_dw4_o2.elf mips_be_dw5_o2.elf big packed mips-linux-gnu-gcc "${MIPS[@]}" -O2 \
    -gdwarf-4 -Wa,--gdwarf-4 -- "${LINE_SRCS[@]}"
# Line tables written by the compiler rather than the assembler
# (-gno-as-loc-support): for version 5 they name the primary file by its
# path under the compilation directory, where the assembler repeats it under
# the source directory.
build_lines arm_le_dw4_gcclines.elf little 4 arm-none-eabi-gcc "${ARM[@]}" "${NOEXC[@]}" -O2 \
    -gdwarf-4 -gno-as-loc-support -- "${LINE_SRCS[@]}" "${CXX_SRCS[@]}"
twin arm_le_dw4_gcclines.elf arm_le_dw5_gcclines.elf little packed arm-none-eabi-gcc "${ARM[@]}" \
    "${NOEXC[@]}" -O2 -gdwarf-4 -gno-as-loc-support -- "${LINE_SRCS[@]}" "${CXX_SRCS[@]}"
# Big-endian -O0 inputs whose functions give DW_OP_call_frame_cfa as their
# frame base: MIPS with .debug_frame, PowerPC with .eh_frame only.
build_lines mips_be_dw4_o0.elf big 4 mips-linux-gnu-gcc "${MIPS[@]}" -O0 -gdwarf-4 -Wa,--gdwarf-4 \
    -- "${LINE_SRCS[@]}"
twin mips_be_dw4_o0.elf mips_be_dw5_o0.elf big packed mips-linux-gnu-gcc "${MIPS[@]}" -O0 \
    -gdwarf-4 -Wa,--gdwarf-4 -- "${LINE_SRCS[@]}"
build_lines ppc_be_dw3_o0.elf big 3 powerpc-linux-gnu-gcc -O0 -gdwarf-3 -- "${LINE_SRCS[@]}"
build_lines ppc_be_dw3_o2.elf big 3 powerpc-linux-gnu-gcc -O2 -gdwarf-3 -- "${LINE_SRCS[@]}"
if ((HOST_M32)); then
    build_lines i386_le_dw2_o2.elf little 2 gcc -m32 -fno-pie -no-pie -O2 -gdwarf-2 \
        -- "${LINE_SRCS[@]}"
    build_lines i386_le_dw3_o0.elf little 3 gcc -m32 -fno-pie -no-pie -O0 -gdwarf-3 \
        -- "${LINE_SRCS[@]}"
fi

# The wide-line inputs: the line-table program with a fourth unit whose code
# sits past line 100,000 of its source, and past line 2,000,000,000 after a
# "#line", so that its rows need line numbers of six and ten digits. The
# unit is made here rather than committed: it is nearly all blank lines.
# wide_lines_source FILE: a function at the top, one right after line
# 100,000 and one under the "#line".
wide_lines_source() {
    local file=$1
    {
        cat <<'SOURCE'
/* Generated by tests/data/build.sh: code on lines above 100,000. */
#include "common.h"

s32 wide_near(s32 v)
{
    return clamp(v, -1000, 1000);
}
SOURCE
        awk 'BEGIN { for (n = 8; n <= 100000; n++) print "" }'
        cat <<'SOURCE'
s32 wide_far(s32 a, s32 b)
{
    s32 sum = 0;

    while (a < b) {
        sum += abs_diff(a, b);
        a += 3;
    }
    return sum;
}
#line 2000000000
s32 wide_farthest(s32 v)
{
    return clamp(v * 3, -7, 7) + wide_far(v, 40) + wide_near(v);
}
SOURCE
    } >"$file"
    [[ $(sed -n '100001p' "$file") == 's32 wide_far(s32 a, s32 b)' ]] ||
        die "$file: wide_far is not on line 100,001"
}
# Compiled under the name src/wide_lines.c, like the other units.
wide_lines_source "$TMP/wide_lines.c"
WIDE=(-Isrc "-ffile-prefix-map=$TMP=src")
build_lines arm_le_dw3_wide.elf little 3 arm-none-eabi-gcc "${ARM[@]}" -O0 -gdwarf-3 "${WIDE[@]}" \
    -- "${LINE_SRCS[@]}" "$TMP/wide_lines.c"
build_lines ppc_be_dw4_wide.elf big 4 powerpc-linux-gnu-gcc -O2 -gdwarf-4 -Wa,--gdwarf-4 \
    "${WIDE[@]}" -- "${LINE_SRCS[@]}" "$TMP/wide_lines.c"
twin ppc_be_dw4_wide.elf ppc_be_dw5_wide.elf big packed powerpc-linux-gnu-gcc -O2 -gdwarf-4 \
    -Wa,--gdwarf-4 "${WIDE[@]}" "-Wa,--debug-prefix-map=$TMP=src" \
    -- "${LINE_SRCS[@]}" "$TMP/wide_lines.c"
for f in arm_le_dw3_wide.elf ppc_be_dw4_wide.elf ppc_be_dw5_wide.elf; do
    ! grep -q -- "$TMP" "$f" || die "$f contains the scratch directory path $TMP"
    [[ $f == *_dw5_* ]] && continue  # its DWARF 4 twin's facts stand for it
    awk '$1 == "row" && $3 > 2000000000 { far = 1 } END { exit !far }' "${f%.elf}.lines" ||
        die "$f has no row past line 2,000,000,000"
done

# The type-description inputs.
build_types arm_le_dw2_types.elf little 2 arm-none-eabi-gcc "${ARM[@]}" -O0 -gdwarf-2
build_types ppc_be_dw4_types.elf big 4 powerpc-linux-gnu-gcc -O0 -gdwarf-4
twin ppc_be_dw4_types.elf ppc_be_dw5_types.elf big packed powerpc-linux-gnu-gcc -O0 -gdwarf-4 \
    -- "${TYPE_SRCS[@]}"

# The C++ class inputs.
build_classes arm_le_dw4_classes.elf little 4 arm-none-eabi-g++ "${ARM[@]}" -O0 -gdwarf-4
build_classes ppc_be_dw3_classes.elf big 3 powerpc-linux-gnu-g++ -O0 -gdwarf-3

# The clang-built inputs: Cortex-M4 Thumb code from clang 19, linked by
# lld 19, with the entries LLVM writes (locations, addresses and frame
# bases before the name, DW_AT_external last, frame bases in registers, no
# DW_AT_sibling; in DWARF 5 the indexed forms strx1, addrx, rnglistx and
# loclistx). Each DWARF 4 file has a DWARF 5 build with the same code and
# symbols; as the line tables clang writes for the two versions convert to
# different files, the DWARF 5 builds are no twins: they have facts of their
# own. The C++ inputs have no line facts.
# shellcheck disable=SC2054 # the commas belong to -Wl, options
CLANG_COMMON=(
    --target=thumbv7em-none-eabi -mcpu=cortex-m4 -fuse-ld=lld
    -nostdlib -ffreestanding -static -fno-stack-protector
    -Wall -Wextra
    "-ffile-prefix-map=$PWD=."
    -Wl,--build-id=none
    -Wl,-e,_start
    -Wl,-N
)

# build_clang OUTPUT DWARF5-OUTPUT LINE-FACTS COMPILER FLAGS... -- SOURCES...
build_clang() {
    local out=$1 twin_out=$2 line_facts=$3 cc=$4 flags=() sources=() f
    shift 4
    while [[ $1 != -- ]]; do flags+=("$1"); shift; done
    shift
    sources=("$@")
    "$cc" "${flags[@]}" -gdwarf-4 "${CLANG_COMMON[@]}" -o "$TMP/$out" "${sources[@]}"
    check "$TMP/$out" little 4
    "$cc" "${flags[@]}" -gdwarf-5 "${CLANG_COMMON[@]}" -o "$TMP/$twin_out" "${sources[@]}"
    check "$TMP/$twin_out" little 5
    [[ $(alloc_dump "$TMP/$twin_out") == "$(alloc_dump "$TMP/$out")" ]] ||
        die "$twin_out: its code or symbols differ from those of $out"
    for f in "$out" "$twin_out"; do
        mv -f "$TMP/$f" "$f"
        printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$f" "$(wc -c <"$f")" "$cc" "${flags[*]}"
        if [[ $line_facts == lines && $f == "$out" ]]; then facts "$f"; fi
        member_facts "$f"
        frame_facts "$f"
        vars_facts "$f"
    done
}

build_clang arm_le_dw4_clang_o0.elf arm_le_dw5_clang_o0.elf lines clang-19 -O0 -- "${SRCS[@]}"
build_clang arm_le_dw4_clang_o2.elf arm_le_dw5_clang_o2.elf lines clang-19 -O2 -- "${SRCS[@]}"
build_clang arm_le_dw4_clang_classes.elf arm_le_dw5_clang_classes.elf - clang++-19 -O0 \
    -fno-exceptions -fno-rtti -Wno-unused-private-field -- "${CLASS_SRCS[@]}"

# The optimised frame-base inputs: location lists with DW_OP_fbreg entries
# (some lists start with one) under DW_OP_call_frame_cfa frame bases.
build_spill arm_le_dw4_spill.elf little 4 arm-none-eabi-gcc "${ARM[@]}" -O2 -gdwarf-4 -Wa,--gdwarf-4
build_spill ppc_be_dw4_spill.elf big 4 powerpc-linux-gnu-gcc -O2 -gdwarf-4 -Wa,--gdwarf-4
build_spill sh4_le_dw4_spill.elf little 4 sh4-linux-gnu-gcc -ml -O2 -gdwarf-4 -Wa,--gdwarf-4
for t in arm_le:arm-none-eabi-gcc:little ppc_be:powerpc-linux-gnu-gcc:big sh4_le:sh4-linux-gnu-gcc:little; do
    IFS=: read -r stem cc data <<<"$t"
    target=()
    [[ $stem == arm_le ]] && target=("${ARM[@]}")
    [[ $stem == sh4_le ]] && target=(-ml)
    twin "${stem}_dw4_spill.elf" "${stem}_dw5_spill.elf" "$data" packed "$cc" "${target[@]}" -O2 \
        -gdwarf-4 -Wa,--gdwarf-4 -- "${SPILL_SRCS[@]}"
done

# ---------------------------------------------------------------------------
# The definition and out-of-line inputs, built from src/defs.c and
# src/outline.c (header src/defs.h), linked with -N. defs.c defines globals
# of every kind after their extern declarations, so each definition entry
# points at its declaration (DW_AT_specification) and holds only the
# address; at -O2, outline.c's static accumulate is inlined where it is
# called directly and kept out of line for a function-pointer table, so its
# out-of-line instance names everything through DW_AT_abstract_origin. The
# -O0 build has the definition entries only.
DEFS_SRCS=(src/defs.c src/outline.c)
for f in "${DEFS_SRCS[@]}" src/defs.h; do
    [[ -f $f ]] || die "missing source file tests/data/$f"
done

# build_defs OUTPUT DATA DWARF-VERSION REQUIREMENTS COMPILER FLAGS...
# REQUIREMENTS: "defs" or "defs,outline", what vars_facts must find; it is
# checked before the file replaces the committed one.
build_defs() {
    local out=$1 data=$2 version=$3 needs=() cc=$5
    IFS=, read -ra needs <<<"$4"
    shift 5
    "$cc" "$@" "${COMMON[@]}" -Wl,-N -Wl,--no-warn-rwx-segments -o "$TMP/$out" "${DEFS_SRCS[@]}"
    check "$TMP/$out" "$data" "$version"
    vars_facts "$TMP/$out" "${needs[@]}"
    mv -f "$TMP/$out" "$out"
    mv -f "$TMP/${out%.elf}.vars" "${out%.elf}.vars"
    member_facts "$out"
    frame_facts "$out"
    printf 'built tests/data/%-20s %6d bytes  %s %s\n' "$out" "$(wc -c <"$out")" "$cc" "$*"
}

build_defs arm_le_dw4_defs.elf little 4 defs,outline arm-none-eabi-gcc "${ARM[@]}" -O2 -gdwarf-4 \
    -Wa,--gdwarf-4
build_defs arm_le_dw2_defs.elf little 2 defs arm-none-eabi-gcc "${ARM[@]}" -O0 -gdwarf-2
build_defs ppc_be_dw3_defs.elf big 3 defs,outline powerpc-linux-gnu-gcc -O2 -gdwarf-3
build_defs sh4_le_dw4_defs.elf little 4 defs,outline sh4-linux-gnu-gcc -ml -O2 -gdwarf-4 -Wa,--gdwarf-4
twin arm_le_dw4_defs.elf arm_le_dw5_defs.elf little packed arm-none-eabi-gcc "${ARM[@]}" -O2 \
    -gdwarf-4 -Wa,--gdwarf-4 -- "${DEFS_SRCS[@]}"
twin sh4_le_dw4_defs.elf sh4_le_dw5_defs.elf little packed sh4-linux-gnu-gcc -ml -O2 -gdwarf-4 \
    -Wa,--gdwarf-4 -- "${DEFS_SRCS[@]}"

# ---------------------------------------------------------------------------
# Whole-program inputs from the sources of arm_le_dw4_o2.elf.
#
# -flto: the functions left after link-time optimisation live in a unit of
# their own ("<artificial>") whose entries name everything through
# DW_FORM_ref_addr references into the early units of main.c and geometry.c.
build arm_le_dw4_lto.elf little 4 arm-none-eabi-gcc "${ARM[@]}" -O2 -flto -gdwarf-4
grep -q 'DW_AT_abstract_origin.*(0x0000000000' < <(llvm-dwarfdump --debug-info arm_le_dw4_lto.elf) ||
    die "arm_le_dw4_lto.elf: no DW_FORM_ref_addr reference into another unit"
twin arm_le_dw4_lto.elf arm_le_dw5_lto.elf little paged arm-none-eabi-gcc "${ARM[@]}" -O2 -flto \
    -gdwarf-4 -- "${SRCS[@]}"

# -fdebug-types-section: structures, unions and enumerations move to type
# units (.debug_types for DWARF 4, type units of .debug_info for DWARF 5),
# referenced by signature. Built exactly as arm_le_dw4_o2.elf and
# arm_le_dw5_o2.elf otherwise, which must convert to the same files; like
# those twins they have no fact files of their own.
# type_units OUTPUT TWIN VERSION
type_units() {
    local out=$1 plain=$2 version=$3
    arm-none-eabi-gcc "${ARM[@]}" -O2 "-gdwarf-$version" -fdebug-types-section \
        "-Wa,--debug-prefix-map=$PWD=." "${COMMON[@]}" -o "$TMP/$out" "${SRCS[@]}"
    check "$TMP/$out" little "$version"
    grep -q 'DW_FORM_ref_sig8\|DW_AT_signature' < <(llvm-dwarfdump --debug-info -v "$TMP/$out") ||
        die "$out: no reference to a type unit"
    [[ $(alloc_dump "$TMP/$out") == "$(alloc_dump "$plain")" ]] ||
        die "$out: its code or symbols differ from those of $plain"
    mv -f "$TMP/$out" "$out"
    printf 'built tests/data/%-20s %6d bytes  type units of %s\n' "$out" "$(wc -c <"$out")" "$plain"
}
type_units arm_le_dw4_typeunits.elf arm_le_dw4_o2.elf 4
type_units arm_le_dw5_typeunits.elf arm_le_dw5_o2.elf 5

# ---------------------------------------------------------------------------
# Fuzz seeds made from these inputs, damaged the way firmware reaches the
# tool damaged: every name held in .debug_str reading empty, and a zeroed
# .debug_info (a run of empty units that all use the table at offset 0).
../../tools/damage_elf.sh empty .debug_str arm_le_dw2_types.elf \
    ../fuzz/seeds/types_empty_debug_str.elf
../../tools/damage_elf.sh zero .debug_info arm_le_dw2_types.elf \
    ../fuzz/seeds/types_zeroed_debug_info.elf

# The compressed twins of some of the inputs above.
compressed_twins
