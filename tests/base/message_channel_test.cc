// Where the message channel sends trace and record texts, and how it formats
// them: nothing unless tracing, cut at their limit, and a cut line keeps its
// line end, so whatever is written next still starts a line.
#include <gtest/gtest.h>

#include <string>

#include "channel_fixture.h"
#include "base/message_channel.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"

namespace dwarfsift {
namespace {

using testing::ChannelTest;

TEST(MessageChannel, TraceStopsAtItsLimitWithALineOfOurs) {
  RunOptions options{.debug_trace = true};
  RunState state(options);
  MessageChannel channel(options, state);
  std::string console;
  channel.CaptureConsole(&console);
  channel.LimitTrace(100);
  OutputFile file;
  file.CreateInMemory();
  for (int i = 0; i < 11; ++i) channel.TraceLine(&file, "/%08d\n", i);  // 10 bytes each
  channel.WriteRecordLine(&file, "record\n");
  // Ten lines fit; the next text is replaced by the closing line, and record
  // lines still reach their file (but no longer the console).
  const std::string cut =
      "/Trace cut here: it reached its limit of 100 bytes (64 x the input size + 64 MB)!!\n";
  EXPECT_EQ(console.substr(90), "/00000009\n" + cut);
  EXPECT_TRUE(file.memory().ends_with("/00000009\r\n" + cut.substr(0, cut.size() - 1) +
                                      "\r\nrecord\r\n"));
}

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

TEST_F(ChannelTest, TraceLineIsNotEvenFormattedWhenTracingIsOff) {
  state_.debug_trace = false;
  int written = -1;
  channel_.TraceLine(&file_, "abc%n\n", &written);
  EXPECT_EQ(written, -1);  // %n would have stored 3 had it been formatted
  EXPECT_EQ(file_.memory(), "");
  EXPECT_EQ(console_, "");

  state_.debug_trace = true;
  channel_.TraceLine(&file_, "abc%n\n", &written);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(file_.memory(), "abc\r\n");
  EXPECT_EQ(console_, "abc\n");
}

TEST_F(ChannelTest, TraceLineFormatsAndFollowsEcho) {
  state_.debug_trace = true;
  options_.echo_trace = false;
  channel_.TraceLine(&file_, "/Section Name [% 3d]%s\n", 7, ".text");
  EXPECT_EQ(file_.memory(), "/Section Name [  7].text\r\n");
  EXPECT_EQ(console_, "");
  // A trace without a file still reaches the console.
  options_.echo_trace = true;
  channel_.TraceLine(nullptr, "%d-%s\n", 12, "x");
  EXPECT_EQ(console_, "12-x\n");
  EXPECT_EQ(file_.memory(), "/Section Name [  7].text\r\n");
}

TEST_F(ChannelTest, RecordLineRouting) {
  struct Case {
    bool trace;
    bool echo;
    bool to_console;
  };
  // Record lines follow the trace switch only; "-p" does not silence them.
  const Case cases[] = {{false, true, false},
                        {false, false, false},
                        {true, true, true},
                        {true, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "trace " << c.trace << " echo "
                                      << c.echo);
    state_.debug_trace = c.trace;
    options_.echo_trace = c.echo;
    file_.CreateInMemory();
    console_.clear();
    channel_.WriteRecordLine(&file_, "%s %08X\n", "main", 0x1A2Bu);
    EXPECT_EQ(file_.memory(), "main 00001A2B\r\n");
    EXPECT_EQ(console_, c.to_console ? "main 00001A2B\n" : "");
  }
}

TEST_F(ChannelTest, FormattedTextIsCutAtTheLimit) {
  state_.debug_trace = true;
  const std::string long_text(kFormattedTextLimit + 50, 'x');
  channel_.WriteRecordLine(&file_, "%s", long_text.c_str());
  EXPECT_EQ(file_.memory(), std::string(kFormattedTextLimit, 'x'));
  EXPECT_EQ(console_, std::string(kFormattedTextLimit, 'x'));
}

}  // namespace
}  // namespace dwarfsift
