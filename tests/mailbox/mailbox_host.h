// A stand-in for the host debugger that receives the tool's messages through
// its one-slot mailbox ("-adef"). It creates the shared block and the lock,
// starts the tool as a child process and plays the host's part in one of a
// few ways, recording what reached the slot, what the child printed, how the
// child ended and how long it ran.
//
// The block and the lock have system-wide names, so runs are serialised with
// a lock file: two test processes (say, two build trees) never share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dwarfsift::mailbox_testing {

// The names the host creates, as the tool knows them; the POSIX objects get
// a leading "/".
inline constexpr const char* kHostLockName = "DwarfsiftMapMutex";
inline constexpr const char* kHostBlockName = "DwarfsiftMapMessage";

// The block is prepared with this byte everywhere the tool has no business
// writing before it opens the slot, so that stray writes stay visible.
inline constexpr std::uint8_t kFillByte = 0xA5;
// Bytes of message text a slot holds.
inline constexpr std::size_t kSlotText = 255;

enum class HostMode {
  kNormal,      // polls about every millisecond and empties the slot
  kHoldLock,    // takes the lock before the child starts, keeps it to the end
  kNeverEmpty,  // creates block and lock, never reads the slot
  kNoHost,      // creates nothing
};

struct HostOptions {
  HostMode mode = HostMode::kNormal;
  // Size of the block the host creates.
  std::size_t block_size = 256;
  // The child is killed when it runs longer than this.
  int timeout_ms = 60000;
  // argv[0] given to the child; the binary path when empty.
  std::string argv0;
  // Before the child starts, another process takes the lock (the tool's
  // way) and is killed with SIGKILL while it holds it.
  bool lock_holder_killed = false;
};

struct HostRun {
  std::string error;  // set when the run could not be set up
  std::vector<std::string> messages;  // in arrival order, each as read
  std::string out;                    // the child's standard output
  std::string err;                    // the child's standard error
  int exit_status = -1;               // 0..255 after a normal exit
  int term_signal = 0;                // set when the child was killed
  bool timed_out = false;
  double elapsed_ms = 0;  // from starting the child until it was reaped
  // Messages whose slot held something other than zeros after the text.
  int dirty_tails = 0;
  // The whole block once the child has gone (after the last collection).
  std::vector<std::uint8_t> block_after;
  // Whether the lock's name still existed once the child had gone.
  bool lock_name_left = false;
};

// Holds an exclusive lock on a file shared by every process that uses the
// mailbox names through this library (any build tree), so that their runs
// never overlap. The holder removes the file when it is done; a waiter that
// then gets the lock of a removed file tries again on the new one, so the
// file is gone once the last run has ended.
class RunSerializer {
 public:
  RunSerializer();
  ~RunSerializer();
  RunSerializer(const RunSerializer&) = delete;
  RunSerializer& operator=(const RunSerializer&) = delete;

 private:
  std::string path_;
  int fd_ = -1;
};

// Starts `binary` with `args` under a host acting as `options` says, and
// returns what happened. Stale names are removed first and the host's names
// are removed again at the end.
HostRun RunWithHost(const HostOptions& options, const std::string& binary,
                    const std::vector<std::string>& args);

// Bytes as printable text: printable ASCII stays, "\\" is doubled, anything
// else becomes \xHH (a newline \n).
std::string EscapeBytes(std::string_view bytes);

const char* ModeName(HostMode mode);
// False when `name` names no mode.
bool ParseMode(std::string_view name, HostMode* mode);

}  // namespace dwarfsift::mailbox_testing
