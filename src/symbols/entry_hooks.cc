#include "symbols/entry_hooks.h"

#include "symbols/entry_processing.h"

namespace dwarfsift {

namespace {

inline constexpr std::uint8_t kOpAddr = 0x03;

}  // namespace

// Only the static-address shape is decided so far: a first operation
// DW_OP_addr gives the symbol its address and the range it is valid in.
// Register and frame-based shapes come with the location decoder.
void ApplyLocationRules(WalkContext& walk, const AttributeValue& value) {
  const auto block = value.block();
  if (block.empty() || block[0] != kOpAddr) return;
  ByteCursor operand(block, walk.dwarf.byte_order);
  operand.Skip(1);
  const int width = walk.dwarf.address_size == 2 ? 2 : 4;
  const auto address = static_cast<std::uint32_t>(ReadFixed(operand, width));

  SymbolRecord& current = walk.symbols[kCurrentSlot];
  if (current.ident == kIdentNon) current.ident = kIdentLocalStatic;
  current.location = static_cast<std::int32_t>(address);
  const ScopeState& scope = walk.scope;
  if (scope.function_scope_end != 0) {
    current.fstart = scope.function_low_pc;
    current.fend = scope.function_high_pc;
  } else {
    current.fstart = scope.unit_low_pc;
    current.fend = scope.unit_high_pc;
  }
}

// Location lists, frame bases and operation texts come with the location
// decoder.
void ApplyLocationList(WalkContext&, std::uint32_t) {}

void SaveFrameBase(WalkContext&, const AttributeValue&) {}

void FirstOperationText(WalkContext&, const AttributeValue&, std::string&) {}

}  // namespace dwarfsift
