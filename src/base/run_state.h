// What one run switches on its way. The options stay as parsed; the state
// starts from them and changes where the run decides to: the trace trigger
// switches tracing on, the member limit drops local structures and members
// for the rest of a unit, and a host that stops answering ends the mailbox.
#pragma once

#include <cstdint>

#include "base/run_options.h"

namespace dwarfsift {

struct RunState {
  bool debug_trace = false;
  bool no_members = false;
  bool no_local_structs = false;
  bool host_mailbox = false;
  // Whether "-?<hex>" has switched the trace on.
  bool trace_triggered = false;
  // An output could not be created or written: the run ends with its own
  // status.
  bool output_lost = false;
  // Something of the input was left out because it is damaged (a section
  // outside the file or that cannot be inflated, a loadable section missing
  // from the S-records, a unit passed over): the outputs are incomplete, and
  // the run ends with its own status once a message has named what.
  bool input_damaged = false;
  // InputKind (base/input_kind.h) of the completed input name, set once the
  // input was read.
  std::uint32_t input_kind = 0;

  RunState() = default;
  explicit RunState(const RunOptions& options)
      : debug_trace(options.debug_trace),
        no_members(options.no_members),
        no_local_structs(options.no_local_structs),
        host_mailbox(options.host_mailbox) {}
};

}  // namespace dwarfsift
