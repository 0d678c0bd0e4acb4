#include "dwarf/unit_header.h"

#include "dwarf/readers.h"

namespace dwarfsift {

UnitHeader ReadUnitHeader(ByteCursor cursor) {
  UnitHeader header;
  header.length = ReadFixed32(cursor);
  header.version = ReadFixed16(cursor);
  if (header.version >= 5) {
    header.unit_type = cursor.ReadByte();
    header.address_size = cursor.ReadByte();
    header.abbrev_offset = ReadFixed32(cursor);
    header.header_size = 12;
  } else {
    header.abbrev_offset = ReadFixed32(cursor);
    header.address_size = cursor.ReadByte();
  }
  return header;
}

const char* UnitTypeName(std::uint8_t unit_type) {
  switch (unit_type) {
    case 0x01: return "compile";
    case 0x02: return "type";
    case 0x03: return "partial";
    case 0x04: return "skeleton";
    case 0x05: return "split compile";
    case 0x06: return "split type";
    default: return "unknown";
  }
}

void ReadUnitBases(const AbbrevTable& abbrevs, ByteCursor entries, FormContext& forms,
                   AttributeValue& scratch) {
  UnitBases& unit = forms.unit;
  unit.ClearBases();
  AbbrevDecl decl = FindAbbrev(abbrevs, ReadUleb128(entries));
  if (!decl.found()) return;
  AttributeSpec spec;
  while (decl.NextSpec(spec) && entries.ok()) {
    std::uint32_t form = spec.form;
    ReadAttributeValue(form, entries, forms, scratch, spec.implicit_const);
    // A base is an offset (DW_FORM_sec_offset); a value that was not read
    // (cut off, or of another form) gives no base.
    if (form != kFormSecOffset || scratch.length() == 0) continue;
    switch (spec.attribute) {
      case kAtStrOffsetsBase: unit.str_offsets_base = scratch.number(); break;
      case kAtAddrBase: unit.addr_base = scratch.number(); break;
      case kAtLoclistsBase: unit.loclists_base = scratch.number(); break;
      case kAtRnglistsBase: unit.rnglists_base = scratch.number(); break;
      default: break;
    }
  }
}

}  // namespace dwarfsift
