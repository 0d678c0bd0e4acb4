#include "mailbox_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "base/platform.h"

extern char** environ;

namespace dwarfsift::mailbox_testing {
namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::string PosixName(const char* name) { return std::string("/") + name; }

void RemoveNames() {
  shm_unlink(PosixName(kHostLockName).c_str());
  shm_unlink(PosixName(kHostBlockName).c_str());
}

// The host's side of the block and the lock; both names are removed when it
// goes. The lock is the tool's own kind, so that both sides agree on it.
struct HostObjects {
  std::uint8_t* block = nullptr;
  std::size_t size = 0;
  std::unique_ptr<platform::NamedLock> lock;
  bool lock_held = false;

  ~HostObjects() {
    if (lock_held) lock->Unlock();
    lock.reset();
    if (block != nullptr) munmap(block, size);
    RemoveNames();
  }

  std::string Create(const HostOptions& options) {
    const int fd = shm_open(PosixName(kHostBlockName).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return ErrnoText("shm_open");
    if (ftruncate(fd, static_cast<off_t>(options.block_size)) != 0) {
      const std::string error = ErrnoText("ftruncate");
      close(fd);
      return error;
    }
    void* view = mmap(nullptr, options.block_size, PROT_READ | PROT_WRITE,
                      MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED) return ErrnoText("mmap");
    block = static_cast<std::uint8_t*>(view);
    size = options.block_size;
    // Everything but an empty slot marker is filled with a visible byte: the
    // tool must zero-fill behind each text and never touch byte 255. A host
    // that reads nothing leaves byte 0 full too: a message waiting there is
    // not the tool's to overwrite.
    std::memset(block, kFillByte, size);
    if (options.mode == HostMode::kNormal) block[0] = 0;

    lock = platform::NamedLock::CreateOrOpen(kHostLockName);
    if (lock == nullptr) return ErrnoText("NamedLock");
    if (options.mode == HostMode::kHoldLock) {
      const Clock::time_point start = Clock::now();
      while (!lock->TryLockBriefly()) {
        if (MillisecondsSince(start) > 5000) return "the host could not take its own new lock";
      }
      lock_held = true;
    }
    return {};
  }

  // One poll of a host that empties the slot: under the lock, takes the
  // message if there is one.
  void Collect(HostRun& run) {
    // The tool holds the lock only for a moment; give up after 200 ms and
    // try again at the next poll.
    const Clock::time_point start = Clock::now();
    while (!lock->TryLockBriefly()) {
      if (MillisecondsSince(start) > 200) return;
    }
    if (block[0] != 0) {
      const char* text = reinterpret_cast<const char*>(block);
      const std::size_t length = strnlen(text, kSlotText);
      run.messages.emplace_back(text, length);
      for (std::size_t i = length; i < kSlotText; ++i) {
        if (block[i] != 0) {
          ++run.dirty_tails;
          break;
        }
      }
      block[0] = 0;
    }
    lock->Unlock();
  }
};

// A process that takes the lock and is killed with SIGKILL while holding
// it, as a run killed in the middle of a message would be.
std::string KillLockHolder() {
  const pid_t pid = fork();
  if (pid < 0) return ErrnoText("fork");
  if (pid == 0) {
    const auto lock = platform::NamedLock::CreateOrOpen(kHostLockName);
    // Up to 5 s: a host that holds the lock itself would keep it forever.
    for (int attempt = 0; lock != nullptr && attempt < 5000; ++attempt) {
      if (lock->TryLockBriefly()) raise(SIGKILL);
    }
    _exit(1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
    return "the lock holder could not take the lock";
  }
  return {};
}

struct ChildPipe {
  int read_end = -1;
  int write_end = -1;
  std::string* sink = nullptr;

  ~ChildPipe() {
    if (read_end >= 0) close(read_end);
    if (write_end >= 0) close(write_end);
  }
  bool Open(std::string* to) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end = fds[0];
    write_end = fds[1];
    sink = to;
    return true;
  }
  // Reads what is there; closes the read end at end of file.
  void Drain() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(read_end, buffer, sizeof buffer);
      if (n > 0) {
        sink->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0) {
        close(read_end);
        read_end = -1;
        return;
      } else if (errno != EINTR) {
        return;  // EAGAIN: nothing more for now
      }
    }
  }
};

// Waits up to `timeout_ms` for output and takes what arrived. Returns false
// when both pipes are closed.
bool PumpOutput(ChildPipe* pipes, int timeout_ms) {
  pollfd fds[2];
  ChildPipe* owners[2];
  nfds_t n = 0;
  for (int i = 0; i < 2; ++i) {
    if (pipes[i].read_end < 0) continue;
    fds[n] = {pipes[i].read_end, POLLIN, 0};
    owners[n] = &pipes[i];
    ++n;
  }
  if (n == 0) return false;
  if (poll(fds, n, timeout_ms) > 0) {
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents != 0) owners[i]->Drain();
    }
  }
  return true;
}

}  // namespace

RunSerializer::RunSerializer()
    : path_((std::filesystem::temp_directory_path() / "dwarfsift-mailbox-host.lock")
                .string()) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat held {};
    struct stat named {};
    if (fstat(fd_, &held) == 0 && stat(path_.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return;
    }
    close(fd_);
    fd_ = -1;
  }
}

RunSerializer::~RunSerializer() {
  if (fd_ < 0) return;
  unlink(path_.c_str());
  close(fd_);  // releases the lock
}

HostRun RunWithHost(const HostOptions& options, const std::string& binary,
                    const std::vector<std::string>& args) {
  HostRun run;
  RunSerializer serializer;
  RemoveNames();  // left over from a run that was killed

  HostObjects host;
  if (options.mode != HostMode::kNoHost) {
    run.error = host.Create(options);
    if (!run.error.empty()) return run;
  }
  if (options.lock_holder_killed) {
    run.error = KillLockHolder();
    if (!run.error.empty()) return run;
  }

  ChildPipe pipes[2];
  if (!pipes[0].Open(&run.out) || !pipes[1].Open(&run.err)) {
    run.error = ErrnoText("pipe2");
    return run;
  }

  std::vector<std::string> words;
  words.push_back(options.argv0.empty() ? binary : options.argv0);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipes[0].write_end, 1);
  posix_spawn_file_actions_adddup2(&actions, pipes[1].write_end, 2);

  const Clock::time_point start = Clock::now();
  pid_t pid = -1;
  const int spawn_error = posix_spawn(&pid, binary.c_str(), &actions, nullptr,
                                      argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) {
    run.error = std::string("posix_spawn: ") + std::strerror(spawn_error);
    return run;
  }
  for (ChildPipe& p : pipes) {
    close(p.write_end);
    p.write_end = -1;
    fcntl(p.read_end, F_SETFL, fcntl(p.read_end, F_GETFL) | O_NONBLOCK);
  }

  int wait_status = 0;
  for (;;) {
    // The poll doubles as the host's pause of about a millisecond.
    if (!PumpOutput(pipes, 1)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (options.mode == HostMode::kNormal) host.Collect(run);
    const pid_t done = waitpid(pid, &wait_status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      run.error = ErrnoText("waitpid");
      break;
    }
    if (MillisecondsSince(start) > options.timeout_ms) {
      kill(pid, SIGKILL);
      waitpid(pid, &wait_status, 0);
      run.timed_out = true;
      break;
    }
  }
  run.elapsed_ms = MillisecondsSince(start);
  if (WIFEXITED(wait_status)) run.exit_status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) run.term_signal = WTERMSIG(wait_status);

  // The child has gone, but the last message may still sit in the slot and
  // output may still sit in the pipes.
  const Clock::time_point drain_start = Clock::now();
  while (PumpOutput(pipes, 100) && MillisecondsSince(drain_start) < 5000) {
  }
  if (options.mode == HostMode::kNormal) host.Collect(run);

  if (host.block != nullptr) run.block_after.assign(host.block, host.block + host.size);
  const int probe = shm_open(PosixName(kHostLockName).c_str(), O_RDONLY, 0);
  run.lock_name_left = probe >= 0;
  if (probe >= 0) close(probe);
  return run;  // `host` removes both names
}

std::string EscapeBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      text += "\\\\";
    } else if (byte == '\n') {
      text += "\\n";
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += c;
    } else {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0xF];
    }
  }
  return text;
}

const char* ModeName(HostMode mode) {
  switch (mode) {
    case HostMode::kNormal: return "normal";
    case HostMode::kHoldLock: return "hold-lock";
    case HostMode::kNeverEmpty: return "never-empty";
    case HostMode::kNoHost: return "no-host";
  }
  return "?";
}

bool ParseMode(std::string_view name, HostMode* mode) {
  for (HostMode m : {HostMode::kNormal, HostMode::kHoldLock, HostMode::kNeverEmpty,
                     HostMode::kNoHost}) {
    if (name == ModeName(m)) {
      *mode = m;
      return true;
    }
  }
  return false;
}

}  // namespace dwarfsift::mailbox_testing
