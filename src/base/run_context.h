// The run-wide state of one invocation: the options as parsed, what the run
// switches on its way, the echoed command line, the message channel and the
// counters. It is created by the entry once the options are complete and
// handed to every phase.
#pragma once

#include <string>

#include "base/message_channel.h"
#include "base/run_options.h"
#include "base/run_state.h"

namespace dwarfsift {

struct RunContext {
  const RunOptions options;
  RunState state;
  std::string echo_line;  // ends in "\n" once the command line is parsed
  MessageChannel channel{options, state};
  RunCounters counters;

  explicit RunContext(const RunOptions& parsed = {}) : options(parsed), state(parsed) {}
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;
};

}  // namespace dwarfsift
