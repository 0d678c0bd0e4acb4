#include "symbols/type_sizes.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "base/text_match.h"
#include "symbols/entry_terms.h"

namespace dwarfsift {

void FinishSlot(SymbolRecord& slot, const SymbolRecord& current,
                std::int32_t address_size) {
  const std::string_view typen(slot.typen);
  if (MatchWordNoCase(typen, "double")) {
    if (slot.one_byte == 4) CopyName(slot.typen, "float");
  } else if (MatchWordNoCase(typen, "long double")) {
    CopyName(slot.typen, slot.one_byte == 4   ? "float"
                         : slot.one_byte == 8 ? "double"
                                              : "Ldouble");
  }
  if (slot.ident == kIdentMember) {
    slot.fstart = current.fstart;
    slot.fend = current.fend;
  }
  if ((slot.kind & kKindBit) != 0) return;
  if ((slot.kind & kKindPointer) != 0) slot.one_byte = address_size;
  std::uint32_t elements = 1;
  if ((slot.kind & kKindArray) != 0) {
    const int dims = std::clamp(slot.ele_count, 0, kMaxArrayDimensions);
    for (int i = 0; i < dims; ++i) elements *= static_cast<std::uint32_t>(slot.ele[i]);
  }
  // Damaged bounds may overflow; the product wraps rather than trap.
  slot.total_byte = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(slot.one_byte) * elements);
}

void FinishMemberSlots(SymbolTable& symbols, int highest_slot, std::int32_t address_size) {
  const SymbolRecord& current = std::as_const(symbols)[kCurrentSlot];
  // Every slot the entry wrote lies at or below its highest slot (member
  // admission raises it too); slots further up belong to earlier entries
  // and are already clear.
  const std::size_t member_end = std::min(
      static_cast<std::size_t>(std::max(highest_slot, 0)), kLastMemberSlot);
  for (std::size_t i = kFirstMemberSlot; i <= member_end; ++i) {
    if (std::as_const(symbols)[i].name[0] == '\0') continue;
    FinishSlot(symbols[i], current, address_size);
  }
}

}  // namespace dwarfsift
