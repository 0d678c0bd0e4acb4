// The run-wide state of one invocation: the options, the echoed command
// line, the message channel and the counters. It is created by the entry and
// handed to every phase.
#pragma once

#include <string>

#include "base/message_channel.h"
#include "base/run_options.h"

namespace dwarfsift {

struct RunContext {
  RunOptions options;
  std::string echo_line;  // ends in "\n" once the command line is parsed
  MessageChannel channel{options};
  RunCounters counters;

  RunContext() = default;
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;
};

}  // namespace dwarfsift
