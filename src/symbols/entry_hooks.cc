#include "symbols/entry_hooks.h"

#include "symbols/entry_processing.h"

namespace dwarfsift {

// No type rules yet: a member passes unchanged, types add nothing to the
// record and take no children.
bool AdmitMember(WalkContext&, ByteCursor, AbbrevDecl, int, int&,
                 std::uint32_t&) {
  return true;
}

void ApplyTypeRules(WalkContext&, std::uint32_t, const AttributeInput&, int,
                    int&, int, std::uint32_t) {}

std::uint32_t TakeTypeChildren(WalkContext&, ByteCursor cursor, std::uint32_t,
                               int, int&, std::uint32_t) {
  return cursor.position();
}

void FinishTypeSizes(WalkContext&) {}

void ResetMemberExpansion(WalkContext&) {}

}  // namespace dwarfsift
