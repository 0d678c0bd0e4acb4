// dwarfsift-mailbox: stands in for the host debugger's end of the "-adef"
// mailbox, so that anyone wiring a debugger to the tool can watch what it
// sends. It creates the lock and the block, prints each message as it
// arrives and ends after an idle time or when interrupted, removing both
// names again.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/host_mailbox.h"
#include "base/message_channel.h"
#include "base/platform.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: dwarfsift-mailbox [--idle SECONDS] [--clear]\n"
    "\n"
    "Creates the host debugger's mailbox (the lock DwarfsiftMapMutex and the\n"
    "block DwarfsiftMapMessage) and prints each message that \"dwarfsift -adef\"\n"
    "sends, as it arrives. Ends after SECONDS without a message (default 60;\n"
    "0: only when interrupted) and removes the mailbox again.\n"
    "  --clear   remove a mailbox a killed run left behind, then end\n";

std::atomic<bool> stop_requested{false};

void RequestStop(int) { stop_requested = true; }

int Fail(const char* text) {
  std::fputs(text, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dwarfsift;
  long idle_seconds = 60;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--clear") {
      const int removed = platform::RemoveStaleNames(kMailboxLockName, kMailboxBlockName);
      std::printf("dwarfsift-mailbox: %d name(s) removed\n", removed);
      return 0;
    }
    if (arg == "--idle" && i + 1 < argc) {
      char* end = nullptr;
      idle_seconds = std::strtol(argv[++i], &end, 10);
      // Past about 49 days the millisecond tick count would wrap.
      if (end == argv[i] || *end != '\0' || idle_seconds < 0 || idle_seconds > 4000000) {
        return Fail(kUsage.data());
      }
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage.data(), stdout);
      return 0;
    }
    return Fail(kUsage.data());
  }

  MailboxHost host;
  if (!host.Create()) {
    return Fail(
        "dwarfsift-mailbox: the mailbox already exists: another host is running, or a killed "
        "run left it (remove it with --clear)\n");
  }
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  const bool utf8 = platform::ConsoleShowsUtf8();
  const std::uint32_t idle_limit_ms = static_cast<std::uint32_t>(idle_seconds) * 1000u;
  std::uint32_t last_message = platform::TickCount();
  std::string message;
  while (!stop_requested) {
    if (host.Take(message)) {
      const std::string shown = utf8 ? Utf8FromToolCp932(message) : message;
      std::fwrite(shown.data(), 1, shown.size(), stdout);
      std::fflush(stdout);
      last_message = platform::TickCount();
      continue;
    }
    if (idle_limit_ms != 0 && platform::TickCount() - last_message >= idle_limit_ms) break;
    platform::SleepMilliseconds(1);
  }
  return 0;
}
