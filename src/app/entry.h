// The entry of the tool: parses the command line, loads the input, runs the
// conversion and cleans up. Returns the exit status.
#pragma once

#include <string>

namespace dwarfsift {

// Exit statuses.
inline constexpr int kStatusDone = 0;
inline constexpr int kStatusNoInput = -1;
inline constexpr int kStatusNotElf = -2;
inline constexpr int kStatusNoSymbol = -3;
inline constexpr int kStatusNoLine = -4;
inline constexpr int kStatusOutputLost = -5;
inline constexpr int kStatusInputDamaged = -6;

// `console_capture`, when given, receives what would go to standard output.
int RunEntry(int argc, const char* const* argv,
             std::string* console_capture = nullptr);

}  // namespace dwarfsift
