#include "symbols/walk_context.h"

#include <utility>

#include "base/messages.h"

namespace dwarfsift {

WalkContext::WalkContext(RunContext& run_context, const ElfImage& image,
                         DwarfParameters& parameters, SymbolConversion& conversion,
                         SymbolSink& entry_sink, const EntryProcessor& entry_processor,
                         TickSource clock)
    : UnitSections{image, parameters, conversion.units, conversion.abbrevs},
      EntryReferences{conversion.index, &conversion.other_units},
      SlotWriter{conversion.symbols, conversion.scope, entry_sink},
      run(run_context),
      processor(entry_processor),
      tick(std::move(clock)) {}

bool TriggerWaiting(const WalkContext& walk) {
  return walk.run.options.trace_trigger && !walk.run.state.trace_triggered;
}

bool WorkLimitsLifted(const WalkContext& walk) {
  // Once the trace has reached its cap nothing more of the walk is shown,
  // and damaged input would otherwise run on without end.
  return walk.run.channel.writes_trace();
}

bool UnitWorkSpent(const WalkContext& walk) {
  return walk.unit_work > walk.unit_work_limit && !WorkLimitsLifted(walk);
}

void ReportMemberSlotsFull(WalkContext& walk, int overflow_count) {
  walk.channel().EmitFormatted(texts::kMemberSlotsFull, overflow_count);
  walk.channel().EmitFormatted(texts::kMemberSlotsFullCut,
                               std::as_const(walk.symbols)[kCurrentSlot].name,
                               static_cast<int>(kLastMemberSlot));
}

}  // namespace dwarfsift
