// The command line of one run: its options and the echoed line.
#pragma once

#include <cstddef>
#include <string>

#include "base/run_options.h"

namespace dwarfsift {

// The echoed command line stays below this many characters.
inline constexpr std::size_t kEchoLineLimit = 255;

// Fills `options` and `echo_line` ("/usage: ", the program path and each
// argument after a blank, without the final newline) from argv. When the echo
// line reaches kEchoLineLimit characters, the remaining arguments are ignored
// and false is returned: the caller tells the user once its channel is there.
[[nodiscard]] bool ParseCommandLine(int argc, const char* const* argv,
                                    RunOptions& options, std::string& echo_line);

}  // namespace dwarfsift
