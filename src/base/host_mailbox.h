// The one-slot mailbox through which a host debugger that started the tool
// with "-adef" receives its messages.
//
// The host creates the shared block "DwarfsiftMapMessage" and polls it; the
// lock "DwarfsiftMapMutex" guards the slot. Byte 0 of the slot is 0 while the
// slot is empty; a message is copied into bytes 0..254, zero-filled, and a
// message of 255 bytes or more is cut to its first 255 bytes. The tool holds
// the lock only while it tests and fills the slot, never changes it without
// the lock or when it is full (so that runs at the same time lose none of
// each other's messages), and never waits for the host to take its last
// message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/platform.h"

namespace dwarfsift {

inline constexpr const char* kMailboxLockName = "DwarfsiftMapMutex";
inline constexpr const char* kMailboxBlockName = "DwarfsiftMapMessage";

class HostMailbox {
 public:
  static constexpr std::size_t kSlotTextSize = 255;
  // Attempts to open the host's block, 1 ms apart.
  static constexpr int kOpenAttempts = 200;
  // Failed 1 ms waits for the lock after which the host counts as gone.
  static constexpr int kLockFailureLimit = 3000;
  // Time the slot may stay full with one message before the host counts as
  // gone.
  static constexpr std::uint32_t kFullSlotLimitMs = 10000;

  // Opens the lock and the host's block. False (and nothing held) when the
  // host does not answer.
  bool Open();
  void Close();
  bool is_open() const { return block_ != nullptr; }

  // Delivers one message. Returns false when the host is taken as gone: the
  // message is then dropped and the mailbox closed.
  bool Send(std::string_view text);

 private:
  std::unique_ptr<platform::NamedLock> lock_;
  std::unique_ptr<platform::SharedBlock> block_;
};

// The host debugger's side: creates the lock and the block (both names go
// with it) and takes the messages out of the slot.
class MailboxHost {
 public:
  static constexpr std::size_t kBlockSize = 256;

  // False when the block's name is taken: another host runs, or a killed
  // one left it (platform::RemoveStaleNames clears it).
  bool Create();
  // Takes the slot's message into `message`; false while the slot is empty
  // or the tool holds the lock.
  bool Take(std::string& message);

 private:
  std::unique_ptr<platform::SharedBlock> block_;
  std::unique_ptr<platform::NamedLock> lock_;
};

}  // namespace dwarfsift
