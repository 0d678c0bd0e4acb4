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
// What a run asks for instead of a conversion: "--help" or "-h", and
// "--version". Any other argument, "./--help" included, is a file name.
enum class InfoRequest { kNone, kHelp, kVersion };
InfoRequest FindInfoRequest(int argc, const char* const* argv);

[[nodiscard]] bool ParseCommandLine(int argc, const char* const* argv,
                                    RunOptions& options, std::string& echo_line);

}  // namespace dwarfsift
