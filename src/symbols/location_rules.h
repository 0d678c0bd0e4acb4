// The location rules: how a variable's, a parameter's or a function's
// location puts a class, a range, registers and rows into its record.
//
// location/ decodes expressions and lists into plain results; the rules
// here decide what of them the record and the scope keep. The entry
// processing calls them for DW_AT_location and DW_AT_frame_base.
#pragma once

#include <cstdint>
#include <string>

#include "dwarf/attribute_value.h"

namespace dwarfsift {

struct WalkContext;

// DW_AT_location of a variable or parameter as an expression block.
void ApplyLocationRules(WalkContext& walk, const AttributeValue& value);

// The address of an expression that is a static address (DW_OP_addr or
// DW_OP_addrx first); false for any other expression.
bool StaticAddress(const WalkContext& walk, const AttributeValue& value, std::uint32_t& address);

// A variable's or parameter's location list at `offset` in .debug_loc,
// converted into slot 0.
void ApplyLocationList(WalkContext& walk, std::uint32_t offset);

// A function's frame-base list at `offset` in .debug_loc, converted into
// slot 0 (the function's own record).
void ApplyFrameBaseList(WalkContext& walk, std::uint32_t offset);

// DW_AT_frame_base of a function as an expression block: saved in the
// scope for the frame-based locals that follow.
void SaveFrameBase(WalkContext& walk, const AttributeValue& value);

// Called once a function entry's attributes are read: a frame base of
// DW_OP_call_frame_cfa becomes a frame-base list made from the call-frame
// information covering the function's start, in slot 0 and in the scope.
void ResolveCallFrameBase(WalkContext& walk);

// The trace text of a block's first location operation (appended to `out`).
void FirstOperationText(WalkContext& walk, const AttributeValue& value,
                        std::string& out);

}  // namespace dwarfsift
