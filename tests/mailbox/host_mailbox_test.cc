// The "-adef" host mailbox end to end: the built tool runs under an emulated
// host debugger (mailbox_host.h) that behaves well, holds the lock, never
// empties the slot, or is not there at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "base/message_channel.h"
#include "base/messages.h"
#include "mailbox_host.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

using mailbox_testing::HostMode;
using mailbox_testing::HostOptions;
using mailbox_testing::HostRun;
using mailbox_testing::kFillByte;
using mailbox_testing::kSlotText;
using testing::ScratchDir;
using testing::TestDataPath;

const std::string kBinary = DWARFSIFT_BINARY;

HostRun RunTool(HostMode mode, const std::vector<std::string>& args,
            std::size_t block_size = 256) {
  HostOptions options;
  options.mode = mode;
  options.block_size = block_size;
  return mailbox_testing::RunWithHost(options, kBinary, args);
}

// The first line the tool shows: "/usage: ", its path and the arguments.
std::string EchoLine(const std::vector<std::string>& args) {
  std::string line = "/usage: " + kBinary;
  for (const std::string& arg : args) line += " " + arg;
  return line + "\n";
}

// What a slot can carry of `text`.
std::string SlotPart(std::string_view text) {
  return std::string(text.substr(0, kSlotText));
}

std::string Joined(const std::vector<std::string>& messages, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < messages.size(); ++i) text += messages[i];
  return text;
}

// The progress lines carry the milliseconds each unit took, which differ
// from run to run.
std::string WithoutTimes(const std::string& text) {
  static const std::regex kTime(R"(time\[ *[0-9]+ms\])");
  return std::regex_replace(text, kTime, "time[ms]");
}

// The run was set up, the child ended by itself and said nothing on stderr.
::testing::AssertionResult RanCleanly(const HostRun& run) {
  if (!run.error.empty()) return ::testing::AssertionFailure() << run.error;
  if (run.timed_out) return ::testing::AssertionFailure() << "the tool hung";
  if (run.term_signal != 0) {
    return ::testing::AssertionFailure() << "killed by signal " << run.term_signal;
  }
  if (!run.err.empty()) {
    return ::testing::AssertionFailure() << "stderr: " << run.err;
  }
  return ::testing::AssertionSuccess();
}

// The slot as the host finds it when the tool wrote it properly: text, then
// zeros up to byte 254; byte 255 is never the tool's.
void ExpectSlotIntegrity(const HostRun& run) {
  EXPECT_EQ(run.dirty_tails, 0) << "a text was not zero-filled behind";
  ASSERT_EQ(run.block_after.size(), 256u);
  EXPECT_EQ(run.block_after[kSlotText], kFillByte) << "byte 255 was written";
}

// Also after a run that was killed (SIGKILL) while it held the lock: the
// system has released it, so no message waits for it or is lost.
TEST(HostMailbox, NormalHostReceivesUsageRunInOrder) {
  ASSERT_GT(texts::kUsage.size(), kSlotText);
  for (const bool lock_holder_killed : {false, true}) {
    SCOPED_TRACE(lock_holder_killed ? "after a killed lock holder" : "first run");
    HostOptions options;
    options.lock_holder_killed = lock_holder_killed;
    const HostRun run = mailbox_testing::RunWithHost(options, kBinary, {"-adef"});
    ASSERT_TRUE(RanCleanly(run));
    EXPECT_EQ(run.exit_status, 255);
    EXPECT_EQ(run.out, "") << "nothing goes to the console while the host listens";
    const std::vector<std::string> expected = {
        EchoLine({"-adef"}), std::string(texts::kBanner), SlotPart(texts::kUsage)};
    EXPECT_EQ(run.messages, expected);
    // A lock that is never free costs 3000 failed 1 ms waits; the bound
    // leaves room for a busy machine.
    EXPECT_LT(run.elapsed_ms, 2500.0) << "the tool waited for the lock";
    ExpectSlotIntegrity(run);
    EXPECT_EQ(run.block_after[0], 0) << "the last message was left in the slot";
    EXPECT_TRUE(run.lock_name_left) << "the tool removed the host's lock";
  }
}

// Hundreds of trace messages: the mailbox carries exactly what the console
// shows for the same command, apart from the echoed "-adef".
TEST(HostMailbox, NormalHostReceivesEveryMessageOnceAndInOrder) {
  struct Case {
    const char* input;
    bool trace;
  } cases[] = {
      {"arm_le_dw3_o0.elf", true},
      {"mips_be_dw3_o1.elf", true},
      {"arm_le_dw3_o0.elf", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + (c.trace ? " -d" : ""));
    ScratchDir dir;
    std::vector<std::string> args = {TestDataPath(c.input), "-o", dir.File("out")};
    if (c.trace) args.insert(args.begin(), "-d");
    const HostRun console = RunTool(HostMode::kNoHost, args);
    std::vector<std::string> mailbox_args = args;
    mailbox_args.insert(mailbox_args.begin(), "-adef");
    const HostRun mailbox = RunTool(HostMode::kNormal, mailbox_args);
    ASSERT_TRUE(RanCleanly(console));
    ASSERT_TRUE(RanCleanly(mailbox));

    EXPECT_EQ(mailbox.exit_status, console.exit_status);
    EXPECT_EQ(mailbox.out, "");
    const std::string console_echo = EchoLine(args);
    ASSERT_EQ(console.out.substr(0, console_echo.size()), console_echo);
    ASSERT_GE(mailbox.messages.size(), c.trace ? 200u : 8u);
    EXPECT_EQ(mailbox.messages[0], EchoLine(mailbox_args));
    EXPECT_EQ(mailbox.messages[1], texts::kBanner);
    EXPECT_EQ(WithoutTimes(Joined(mailbox.messages, 1)),
              WithoutTimes(console.out.substr(console_echo.size())));
    EXPECT_EQ(mailbox.messages.back().rfind("complete symbols=", 0), 0u)
        << "the closing line, sent as the tool exits, went missing";
    ExpectSlotIntegrity(mailbox);
  }
}

// Command lines of chosen length make echo lines right at the slot size; the
// longest make the tool complain (before the mailbox opens) and stop reading
// arguments, so the usage text follows.
TEST(HostMailbox, MessagesOfSlotSizeOrLongerAreCut) {
  for (const std::size_t length : {254u, 255u, 256u, 300u}) {
    SCOPED_TRACE("echo line of " + std::to_string(length) + " bytes");
    ScratchDir dir;
    // "/usage: <binary> -adef " comes before the name, "\n" after it. The
    // name is a missing input with an extension, so that it is shown as given.
    const std::string extension = ".elf";
    const std::size_t fixed = EchoLine({"-adef", ""}).size() + dir.File(extension).size();
    ASSERT_LT(fixed, length) << "binary or scratch path too long";
    const std::string name = dir.File(std::string(length - fixed, 'n') + extension);
    const std::string echo = EchoLine({"-adef", name});
    ASSERT_EQ(echo.size(), length);

    const HostRun run = RunTool(HostMode::kNormal, {"-adef", name});
    ASSERT_TRUE(RanCleanly(run));
    EXPECT_EQ(run.exit_status, 255);
    std::vector<std::string> expected;
    if (length <= kSlotText) {
      EXPECT_EQ(run.out, "");
      expected = {echo, std::string(texts::kBanner),
                  SlotPart(name + std::string(texts::kMissingFileSuffix))};
    } else {
      const auto echoed = static_cast<unsigned long>(echo.size() - 1);
      EXPECT_EQ(run.out, std::string(texts::kTooLong) + FormatString(texts::kTooLongLimit, echoed));
      expected = {SlotPart(echo), std::string(texts::kBanner), SlotPart(texts::kUsage)};
    }
    EXPECT_EQ(run.messages, expected);
    ExpectSlotIntegrity(run);
  }
}

// No block after 200 attempts a millisecond apart: everything goes to the
// console, the exit status is the usual one, and the lock the tool had to
// create is removed again.
TEST(HostMailbox, WithoutHostMessagesFallBackToConsole) {
  const HostRun usage = RunTool(HostMode::kNoHost, {"-adef"});
  ASSERT_TRUE(RanCleanly(usage));
  EXPECT_EQ(usage.exit_status, 255);
  EXPECT_EQ(usage.out, EchoLine({"-adef"}) + std::string(texts::kBanner) +
                           std::string(texts::kUsage));
  EXPECT_GE(usage.elapsed_ms, 199.0) << "gave up before 200 attempts";
  EXPECT_LT(usage.elapsed_ms, 5000.0) << "kept trying far too long";
  EXPECT_FALSE(usage.lock_name_left) << "the tool left its own lock behind";

  ScratchDir dir;
  const std::vector<std::string> args = {TestDataPath("arm_le_dw3_o0.elf"), "-o",
                                         dir.File("out")};
  const HostRun console = RunTool(HostMode::kNoHost, args);
  std::vector<std::string> fallback_args = args;
  fallback_args.insert(fallback_args.begin(), "-adef");
  const HostRun fallback = RunTool(HostMode::kNoHost, fallback_args);
  ASSERT_TRUE(RanCleanly(console));
  ASSERT_TRUE(RanCleanly(fallback));
  EXPECT_EQ(fallback.exit_status, console.exit_status);
  const std::string console_echo = EchoLine(args);
  ASSERT_EQ(console.out.substr(0, console_echo.size()), console_echo);
  EXPECT_EQ(WithoutTimes(fallback.out),
            WithoutTimes(EchoLine(fallback_args) + console.out.substr(console_echo.size())));
  EXPECT_GE(fallback.elapsed_ms, 199.0);
  EXPECT_FALSE(fallback.lock_name_left);
}

// 3000 failed waits of a millisecond for the lock: the first message is lost,
// the rest go to the console.
TEST(HostMailbox, HostHoldingLockLosesFirstMessageOnly) {
  const HostRun run = RunTool(HostMode::kHoldLock, {"-adef"});
  ASSERT_TRUE(RanCleanly(run));
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(run.out, std::string(texts::kBanner) + std::string(texts::kUsage));
  EXPECT_GE(run.elapsed_ms, 2900.0) << "gave up on the lock too early";
  EXPECT_LT(run.elapsed_ms, 30000.0);
  ASSERT_EQ(run.block_after.size(), 256u);
  EXPECT_TRUE(std::all_of(run.block_after.begin(), run.block_after.end(),
                          [](std::uint8_t b) { return b == kFillByte; }))
      << "the slot was changed without the lock";
  EXPECT_TRUE(run.lock_name_left);
}

// The slot stays full (maybe with another run's message, so it is left):
// the first message is lost after 10 s, the rest go to the console.
TEST(HostMailbox, HostNeverEmptyingSlotLosesFirstMessage) {
  const HostRun run = RunTool(HostMode::kNeverEmpty, {"-adef"});
  ASSERT_TRUE(RanCleanly(run));
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(run.out, std::string(texts::kBanner) + std::string(texts::kUsage));
  EXPECT_GE(run.elapsed_ms, 9900.0) << "gave up on the full slot too early";
  EXPECT_LT(run.elapsed_ms, 40000.0);
  ASSERT_EQ(run.block_after.size(), 256u);
  EXPECT_TRUE(std::all_of(run.block_after.begin(), run.block_after.end(),
                          [](std::uint8_t b) { return b == kFillByte; }))
      << "a full slot was overwritten";
  EXPECT_TRUE(run.lock_name_left);
}

// A block too small for a slot is not used: no text lands in it and the
// messages go to the console.
TEST(HostMailbox, BlockTooSmallForSlotIsNotUsed) {
  const HostRun run = RunTool(HostMode::kNeverEmpty, {"-adef"}, 64);
  ASSERT_TRUE(RanCleanly(run));
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(run.out, EchoLine({"-adef"}) + std::string(texts::kBanner) +
                         std::string(texts::kUsage));
  ASSERT_EQ(run.block_after.size(), 64u);
  EXPECT_TRUE(std::all_of(run.block_after.begin() + 1, run.block_after.end(),
                          [](std::uint8_t b) { return b == kFillByte; }));
}

// Messages of one run, one per line, times blanked.
std::vector<std::string> Lines(const std::string& text) {
  const std::string plain = WithoutTimes(text);
  static const std::regex kEnd("\n");
  return {std::sregex_token_iterator(plain.begin(), plain.end(), kEnd, -1), {}};
}

// Five runs at once under one host (the monitor), three times: every message
// arrives once, each run's in its order; none is wiped by another's opening.
TEST(HostMailbox, OverlappingRunsLoseNoMessage) {
  const mailbox_testing::RunSerializer serializer;
  ScratchDir dir;
  std::string together = std::string(DWARFSIFT_MONITOR) + " --idle 2 & until [ -e " +
                         "/dev/shm/DwarfsiftMapMessage ]; do sleep 0.01; done; ";
  std::vector<std::vector<std::string>> alone;
  for (const char* input : {"arm_le_dw3_o0", "mips_be_dw3_o1", "arm_le_dw2_o2",
                            "arm_le_dw4_defs", "arm_le_dw2_types"}) {
    const std::string run = kBinary + " -adef " + TestDataPath(std::string(input) + ".elf") +
                            " -o " + dir.File(input);
    alone.push_back(Lines(testing::RunCommand(run)));  // no host: the console
    together += run + " >/dev/null & ";
  }
  for (int round = 0; round < 3; ++round) {
    std::vector<std::string> received = Lines(testing::RunCommand(together + "wait"));
    std::vector<std::string> sent;
    for (const std::vector<std::string>& lines : alone) {
      // In order: each run's messages are a subsequence of what arrived.
      std::size_t found = 0;
      for (auto at = received.begin(); found < lines.size(); ++at, ++found) {
        at = std::find(at, received.end(), lines[found]);
        if (at == received.end()) break;
      }
      EXPECT_EQ(found, lines.size()) << "round " << round << ": " << lines[0];
      sent.insert(sent.end(), lines.begin(), lines.end());
    }
    std::sort(sent.begin(), sent.end());
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received, sent) << "round " << round;
  }
}

// The installed monitor as an integrator uses it: on a UTF-8 terminal it
// shows the tool's messages readably, then leaves no name behind; --clear
// removes the names a killed host left.
TEST(MailboxMonitor, ShowsTheToolsMessagesAndClearsStaleNames) {
  const mailbox_testing::RunSerializer serializer;
  const std::string monitor = DWARFSIFT_MONITOR;
  std::FILE* shown = popen(("LC_ALL=C.UTF-8 script -qec '" + monitor + " --idle 2' /dev/null")
                               .c_str(),
                           "r");
  ASSERT_NE(shown, nullptr);
  const std::filesystem::path block = "/dev/shm/DwarfsiftMapMessage";
  for (int i = 0; i < 300 && !std::filesystem::exists(block); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int status = 0;
  testing::RunCommand(kBinary + " -adef", &status);
  EXPECT_EQ(status, 255);
  std::string out;
  char buffer[512];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, shown)) > 0;) out.append(buffer, n);
  EXPECT_EQ(pclose(shown), 0);
  std::erase(out, '\r');
  const std::string_view first_line =
      texts::kUsageUtf8.substr(0, texts::kUsageUtf8.find('\n') + 1);
  EXPECT_TRUE(out.starts_with(EchoLine({"-adef"}) + std::string(texts::kBanner) +
                              std::string(first_line)))
      << out;
  EXPECT_FALSE(std::filesystem::exists(block));

  for (const char* name : {"/DwarfsiftMapMutex", "/DwarfsiftMapMessage"}) {
    const int fd = shm_open(name, O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0) << name;
    close(fd);
  }
  EXPECT_EQ(testing::RunCommand(monitor + " --clear", &status),
            "dwarfsift-mailbox: 2 name(s) removed\n");
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(std::filesystem::exists(block));
}

}  // namespace
}  // namespace dwarfsift
