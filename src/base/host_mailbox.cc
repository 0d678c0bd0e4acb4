#include "base/host_mailbox.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace dwarfsift {

bool HostMailbox::Open() {
  Close();
  lock_ = platform::NamedLock::CreateOrOpen(kMailboxLockName);
  if (lock_ == nullptr) return false;
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    block_ = platform::SharedBlock::OpenExisting(kMailboxBlockName);
    if (block_ != nullptr) break;
    if (attempt < kOpenAttempts) platform::SleepMilliseconds(1);
  }
  // A block too small for the slot would be written past its end.
  if (block_ == nullptr || block_->size() < kSlotTextSize) {
    Close();
    return false;
  }
  // The slot is left as it is: a message in it is another run's, not yet
  // taken (the host empties a block it makes).
  return true;
}

void HostMailbox::Close() {
  block_.reset();
  lock_.reset();
}

bool HostMailbox::Send(std::string_view text) {
  if (!is_open()) return false;
  if (text.empty()) return true;  // an empty slot already says "no message"
  const std::size_t n = std::min(text.size(), kSlotTextSize);
  int lock_failures = 0;
  // What the full slot held when last seen, and since when: a host that
  // takes messages (another run's, when runs overlap) changes it.
  std::array<std::uint8_t, kSlotTextSize> seen{};
  bool slot_was_full = false;
  std::uint32_t full_since = 0;
  for (;;) {
    if (lock_->TryLockBriefly()) {
      std::uint8_t* slot = block_->data();
      const bool empty = slot[0] == 0;
      const bool changed = !empty && std::memcmp(slot, seen.data(), kSlotTextSize) != 0;
      if (empty) {
        std::memcpy(slot, text.data(), n);
        std::memset(slot + n, 0, kSlotTextSize - n);
      } else if (changed) {
        std::memcpy(seen.data(), slot, kSlotTextSize);
      }
      lock_->Unlock();
      if (empty) return true;
      // The host has not taken the waiting message yet. Give it time, but
      // not forever: a host that died would otherwise hang the tool.
      const std::uint32_t now = platform::TickCount();
      if (!slot_was_full || changed) {
        slot_was_full = true;
        full_since = now;
      } else if (now - full_since >= kFullSlotLimitMs) {
        Close();
        return false;
      }
      platform::SleepMilliseconds(1);
    } else if (++lock_failures >= kLockFailureLimit) {
      Close();
      return false;
    }
  }
}

bool MailboxHost::Create() {
  block_ = platform::SharedBlock::CreateNew(kMailboxBlockName, kBlockSize);
  if (block_ == nullptr) return false;
  lock_ = platform::NamedLock::CreateOrOpen(kMailboxLockName);
  if (lock_ == nullptr) {
    block_.reset();
    return false;
  }
  return true;
}

bool MailboxHost::Take(std::string& message) {
  if (block_ == nullptr || !lock_->TryLockBriefly()) return false;
  std::uint8_t* slot = block_->data();
  const bool full = slot[0] != 0;
  if (full) {
    std::size_t n = 0;
    while (n < HostMailbox::kSlotTextSize && slot[n] != 0) ++n;
    message.assign(reinterpret_cast<const char*>(slot), n);
    std::memset(slot, 0, HostMailbox::kSlotTextSize);
  }
  lock_->Unlock();
  return full;
}

}  // namespace dwarfsift
