// Formatted texts of the message channel: cut at their limit, a line keeps
// its line end, so whatever is written next still starts a line.
#include <gtest/gtest.h>

#include <string>

#include "base/message_channel.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"

namespace dwarfsift {
namespace {

TEST(MessageChannel, CutTextsKeepTheirLineEnd) {
  const struct {
    std::size_t argument;  // length of the %s argument
    bool ends_with_newline;  // the format "/ %s\n" rather than "/ %s"
    std::size_t length;      // of the written text
  } cases[] = {
      {kFormattedTextLimit - 3, true, kFormattedTextLimit},  // fits exactly
      {kFormattedTextLimit, true, kFormattedTextLimit},      // cut
      {5000, true, kFormattedTextLimit},
      {5000, false, kFormattedTextLimit},  // no line end to keep
      {10, true, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.ends_with_newline << " " << c.argument);
    RunOptions options;
    options.debug_trace = true;
    options.echo_trace = false;
    RunState state(options);
    MessageChannel channel(options, state);
    OutputFile file;
    file.CreateInMemory();
    const std::string argument(c.argument, 'x');
    std::string console;
    if (c.ends_with_newline) {
      channel.TraceLine(&file, "/ %s\n", argument.c_str());
      channel.WriteRecordLine(&file, "/ %s\n", argument.c_str());
      channel.CaptureConsole(&console);
      channel.EmitFormatted("/ %s\n", argument.c_str());
    } else {
      channel.TraceLine(&file, "/ %s", argument.c_str());
      channel.WriteRecordLine(&file, "/ %s", argument.c_str());
      channel.CaptureConsole(&console);
      channel.EmitFormatted("/ %s", argument.c_str());
    }
    // In the file each "\n" became CR LF.
    const std::string one =
        std::string("/ ") + argument.substr(0, c.length - 2 - c.ends_with_newline) +
        (c.ends_with_newline ? "\r\n" : "");
    EXPECT_EQ(file.memory(), one + one);
    EXPECT_EQ(console.size(), c.length);
    EXPECT_EQ(console.ends_with('\n'), c.ends_with_newline);
  }
}

}  // namespace
}  // namespace dwarfsift
