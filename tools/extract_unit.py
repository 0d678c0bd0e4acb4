#!/usr/bin/env python3
"""Writes a small ELF file holding one compilation unit of a larger one.

    tools/extract_unit.py INPUT UNIT-OFFSET OUTPUT

UNIT-OFFSET is the unit's offset in .debug_info (as the tool's per-unit
console line gives it, minus the section's file offset). The output keeps
the ELF header's machine and byte order and has four sections: that unit
alone as .debug_info, its abbreviation table alone as .debug_abbrev (the
unit header now naming offset 0), .debug_str as it is in the input (so a
damaged one stays damaged: an empty one stays empty), and .shstrtab.
References between units and into other sections are not rewritten, so a
unit that uses them reads them as damaged; that suits fuzz seeds, which is
what this is for: a slow or failing unit of a firmware becomes a seed of a
few KB.
"""
import struct
import sys


def uleb(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos


def abbrev_table_end(data, pos):
    """End of the table starting at pos: past its 0 code."""
    while True:
        code, pos = uleb(data, pos)
        if code == 0:
            return pos
        _, pos = uleb(data, pos)  # tag
        pos += 1  # children
        while True:
            attribute, pos = uleb(data, pos)
            form, pos = uleb(data, pos)
            if form == 0x21:  # DW_FORM_implicit_const carries its value
                _, pos = uleb(data, pos)
            if attribute == 0 and form == 0:
                break


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, unit_offset, target = sys.argv[1], int(sys.argv[2], 0), sys.argv[3]
    data = open(source, 'rb').read()
    if data[:4] != b'\x7fELF' or data[4] != 1:
        sys.exit(f'{source} is not a 32-bit ELF file')
    order = '<' if data[5] == 1 else '>'
    shoff, = struct.unpack_from(order + 'I', data, 32)
    shentsize, shnum, shstrndx = struct.unpack_from(order + 'HHH', data, 46)

    def header(i):
        return struct.unpack_from(order + '10I', data, shoff + i * shentsize)

    names = header(shstrndx)
    sections = {}
    for i in range(shnum):
        h = header(i)
        start = names[4] + h[0]
        name = data[start:data.index(b'\0', start)].decode()
        sections[name] = h

    info = sections['.debug_info']
    unit_start = info[4] + unit_offset
    length, version = struct.unpack_from(order + 'IH', data, unit_start)
    unit = bytearray(data[unit_start:unit_start + 4 + length])
    abbrev_field = 8 if version >= 5 else 6
    abbrev_offset, = struct.unpack_from(order + 'I', unit, abbrev_field)
    struct.pack_into(order + 'I', unit, abbrev_field, 0)
    abbrev = sections['.debug_abbrev']
    table_start = abbrev[4] + abbrev_offset
    table = data[table_start:abbrev_table_end(data, table_start)]
    string_section = sections.get('.debug_str')
    strings = b''
    if string_section is not None:
        strings = data[string_section[4]:string_section[4] + string_section[5]]

    contents = [('.debug_info', bytes(unit)), ('.debug_abbrev', table),
                ('.debug_str', strings)]
    shstrtab = b'\0' + b''.join(n.encode() + b'\0' for n, _ in contents) + b'.shstrtab\0'
    contents.append(('.shstrtab', shstrtab))

    out = bytearray(data[:52])
    headers = [bytes(40)]
    name_at = 1
    for name, body in contents:
        offset = len(out)
        out += body
        headers.append(struct.pack(order + '10I', name_at, 1 if name != '.shstrtab' else 3,
                                   0, 0, offset, len(body), 0, 0, 1, 0))
        name_at += len(name) + 1
    while len(out) % 4:
        out += b'\0'
    table_offset = len(out)
    out += b''.join(headers)
    # No program headers; the section table just written, its names last.
    struct.pack_into(order + 'IIIHHHHHH', out, 28, 0, table_offset,
                     struct.unpack_from(order + 'I', data, 36)[0], 52, 0, 0, 40,
                     len(headers), len(headers) - 1)
    open(target, 'wb').write(out)


if __name__ == '__main__':
    main()
