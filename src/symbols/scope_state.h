// What the symbol conversion carries from one debugging entry to the next.
//
// ScopeState holds the ranges and names of the current unit and function
// that later entries take over (a static's range, a -g copy's scope name),
// and the per-entry counters of the slot discipline. UnitRangeTable records
// where each unit walked so far lies in .debug_info, so a unit-relative
// reference can be turned into a section offset.
#pragma once

#include <cstdint>
#include <vector>

#include "symbols/symbol_record.h"

namespace dwarfsift {

inline constexpr std::size_t kScopeNameSize = 256;     // up to 255 characters
// Characters kept of a member group's name (a structure tag).
inline constexpr std::size_t kGroupNameLimit = 33;
inline constexpr std::size_t kMemberGroupNameSize = kGroupNameLimit + 1;

struct ScopeState {
  std::uint32_t unit_low_pc = 0;
  std::uint32_t unit_high_pc = 0;
  std::uint32_t function_low_pc = 0;
  std::uint32_t function_high_pc = 0;
  // The first operation of the current function's frame-base expression.
  std::int32_t frame_base_opcode = 0;
  std::int32_t frame_base_operand1 = 0;
  std::int32_t frame_base_operand2 = 0;
  std::uint32_t frame_base_list_offset = 0;
  // The frame base is the list at frame_base_list_offset (0 is a valid
  // offset, so the offset alone cannot tell).
  bool frame_base_is_list = false;
  // While a function entry is read: it has a frame base of its own, that
  // frame base is DW_OP_call_frame_cfa, and its own DW_AT_low_pc has been
  // seen (the one in function_low_pc may still be the previous function's).
  bool frame_base_read = false;
  bool frame_base_is_cfa = false;
  bool function_low_pc_read = false;
  // The current function's frame base made from its call-frame information,
  // as the rows of a frame-base list (count 0: none).
  int cfa_row_count = 0;
  LocationRows cfa_rows = {};
  // Unit offset of the current function's sibling; nonzero while inside it.
  // A function that names no sibling ends with its list of children
  // (kScopeEndsWithList), which closes when `open_lists` falls back to
  // `function_list`.
  std::uint32_t function_scope_end = 0;
  int open_lists = 0;
  int function_list = 0;
  char unit_name[kScopeNameSize] = {};
  char function_name[kScopeNameSize] = {};
  char struct_tag_name[kMemberGroupNameSize] = {};
  char pending_type_name[kMemberGroupNameSize] = {};
  int highest_slot = 0;
  int global_copy_count = 0;
  int member_overflow_count = 0;
};

inline constexpr std::uint32_t kScopeEndsWithList = 0xFFFFFFFFu;

// The walk entered the children of an entry, or met the null entry that
// ends a list of children.
inline void EnterChildList(ScopeState& scope) { ++scope.open_lists; }
inline void LeaveChildList(ScopeState& scope) {
  --scope.open_lists;
  if (scope.function_scope_end == kScopeEndsWithList && scope.open_lists <= scope.function_list) {
    scope.function_scope_end = 0;
  }
}

// Start and end (last byte) of every unit walked, as offsets in .debug_info.
// It grows with the file: a large image may hold more than a thousand units.
class UnitRangeTable {
 public:
  void Clear() {
    ranges_.clear();
    current_ = 0;
    visiting_ = kNotVisiting;
  }
  // Records the start of unit `number` and makes it the current unit.
  void BeginUnit(std::uint32_t number, std::uint32_t start) {
    if (ranges_.size() <= number) ranges_.resize(number + 1);
    ranges_[number] = Range{start, start};
    current_ = number;
  }
  void EndUnit(std::uint32_t end) {
    if (current_ < ranges_.size()) ranges_[current_].end = end;
  }
  std::uint32_t current() const { return current_; }
  // The start of the unit whose entries are being read: the walked unit's,
  // or while a reference is followed into another unit, that one's.
  std::uint32_t current_start() const {
    if (visiting_ != kNotVisiting) return visiting_;
    return current_ < ranges_.size() ? ranges_[current_].start : 0;
  }
  // Sets the unit being visited (kNotVisiting: none); returns the one before.
  static constexpr std::uint32_t kNotVisiting = 0xFFFFFFFFu;
  std::uint32_t Visit(std::uint32_t start) {
    const std::uint32_t before = visiting_;
    visiting_ = start;
    return before;
  }
  std::size_t size() const { return ranges_.size(); }
  std::uint32_t start(std::size_t unit) const { return ranges_[unit].start; }
  std::uint32_t end(std::size_t unit) const { return ranges_[unit].end; }

 private:
  struct Range {
    std::uint32_t start;
    std::uint32_t end;
  };
  std::vector<Range> ranges_;
  std::uint32_t current_ = 0;
  std::uint32_t visiting_ = kNotVisiting;
};

}  // namespace dwarfsift
