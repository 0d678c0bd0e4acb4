#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <thread>

#include "base/messages.h"
#include "base/platform.h"

namespace dwarfsift::platform {
namespace {

std::string PosixName(const char* name) { return std::string("/") + name; }

}  // namespace

std::uint32_t TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepMilliseconds(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool ConsoleShowsUtf8() {
  if (isatty(STDOUT_FILENO) == 0) return false;
  // The user's character set, read without leaving the process in that
  // locale: nothing else of the tool depends on it.
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = current != nullptr ? current : "C";
  if (std::setlocale(LC_CTYPE, "") == nullptr) return false;
  const char* codeset = nl_langinfo(CODESET);
  const bool utf8 = codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 ||
                                           std::strcmp(codeset, "utf8") == 0);
  std::setlocale(LC_CTYPE, saved.c_str());
  return utf8;
}

std::optional<FileId> FileIdentity(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(info.st_dev),
                static_cast<std::uint64_t>(info.st_ino)};
}

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(getpid()); }

void AdviseLargePages(void* begin, std::size_t size) {
#ifdef MADV_HUGEPAGE
  // Only whole 2 MB pages inside the block can be large.
  constexpr std::uintptr_t kLargePage = std::uintptr_t{1} << 21;
  const auto start = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t end = (start + size) & ~(kLargePage - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)begin;
  (void)size;
#endif
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

namespace {

// The temporary-file slots: a run has five outputs at most, tests a few
// more at once. A slot's name is complete before it is marked used.
constexpr int kTempSlots = 16;
char temp_names[kTempSlots][PATH_MAX];
volatile sig_atomic_t temp_used[kTempSlots];

volatile sig_atomic_t stop_signal = 0;  // the first stop signal received
volatile sig_atomic_t stop_taken = 0;   // the run has taken the request
// Seconds a run has to take a stop request before the handler ends it.
constexpr unsigned kStopGraceSeconds = 3;

void WriteAll(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(STDOUT_FILENO, text, size);
    if (n <= 0) return;
    text += n;
    size -= static_cast<std::size_t>(n);
  }
}

// The end without the run's help: only async-signal-safe calls.
[[noreturn]] void StopInHandler(int signal_number) {
  RemoveTempFiles();
  WriteAll(texts::kStopped.data(), texts::kStopped.size());
  EndAsStopped(signal_number);
  _exit(128 + signal_number);
}

void OnStopSignal(int signal_number) {
  if (stop_signal == 0) {
    stop_signal = signal_number;
    alarm(kStopGraceSeconds);
    return;
  }
  StopInHandler(stop_signal);
}

void OnStopDeadline(int) {
  if (stop_signal != 0) StopInHandler(stop_signal);
}

// A terminate() would abort with the temporary files in place. It comes of
// an exception that meets a function that may not throw: an allocation that
// failed there, or a stop request taken by a write from a destructor.
[[noreturn]] void OnTerminate() {
  RemoveTempFiles();
  std::fflush(stdout);  // not in a signal handler here
  const std::string_view text = stop_signal != 0 ? texts::kStopped : texts::kUnexpectedStop;
  WriteAll(text.data(), text.size());
  EndAsStopped(stop_signal);
  _exit(251);  // the status of a lost output
}

}  // namespace

int RegisterTempFile(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int slot = 0; slot < kTempSlots; ++slot) {
    if (temp_used[slot] != 0) continue;
    std::memcpy(temp_names[slot], path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    temp_used[slot] = 1;
    return slot;
  }
  return -1;
}

void UnregisterTempFile(int slot) {
  if (slot >= 0 && slot < kTempSlots) temp_used[slot] = 0;
}

void RemoveTempFiles() {
  for (int slot = 0; slot < kTempSlots; ++slot) {
    if (temp_used[slot] != 0) unlink(temp_names[slot]);
  }
}

void InstallStopHandlers() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  // Writes and reads go on after the handler: the run decides when to stop.
  action.sa_flags = SA_RESTART;
  action.sa_handler = OnStopSignal;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored from the start (nohup, a background job) stays so.
    struct sigaction inherited {};
    sigaction(signal_number, nullptr, &inherited);
    if (inherited.sa_handler != SIG_IGN) sigaction(signal_number, &action, nullptr);
  }
  action.sa_handler = OnStopDeadline;
  sigaction(SIGALRM, &action, nullptr);
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
  sigaction(SIGXFSZ, &action, nullptr);
  std::set_terminate(OnTerminate);
}

int StopRequested() { return stop_signal; }

int TakeStopRequest() {
  if (stop_signal == 0 || stop_taken != 0) return 0;
  stop_taken = 1;
  alarm(0);
  return stop_signal;
}

void EndAsStopped(int signal_number) {
  if (signal_number == 0) return;
  signal(signal_number, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal_number);
}

// The lock is an advisory whole-file lock (flock) on an empty shared-memory
// object of the lock's name. Such a lock belongs to the open file
// description, so the system drops it when its holder dies however it dies;
// a killed run can leave the name behind, but never a held lock.
struct NamedLock::Impl {
  int fd = -1;
  std::string name;
  bool created = false;  // this process made it, so it removes it again
};

NamedLock::NamedLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

NamedLock::~NamedLock() {
  if (impl_->fd >= 0) close(impl_->fd);  // drops the lock if it is held
  if (impl_->created) shm_unlink(impl_->name.c_str());
}

std::unique_ptr<NamedLock> NamedLock::CreateOrOpen(const char* name) {
  auto impl = std::make_unique<Impl>();
  impl->name = PosixName(name);
  // The host may have made it. Locking needs no write access, so a name
  // another user made can still be opened read-only.
  impl->fd = shm_open(impl->name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
  if (impl->fd >= 0) {
    impl->created = true;
  } else if (errno == EEXIST) {
    impl->fd = shm_open(impl->name.c_str(), O_RDONLY, 0);
  }
  if (impl->fd < 0) return nullptr;
  return std::unique_ptr<NamedLock>(new NamedLock(std::move(impl)));
}

bool NamedLock::TryLockBriefly() {
  // flock cannot wait with a time limit; holders keep the lock for
  // microseconds, so polling within the millisecond loses little.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
  for (;;) {
    if (flock(impl_->fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

void NamedLock::Unlock() { flock(impl_->fd, LOCK_UN); }

struct SharedBlock::Impl {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::string created_name;  // set when this process made it
};

SharedBlock::SharedBlock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SharedBlock::~SharedBlock() {
  if (impl_->data != nullptr) munmap(impl_->data, impl_->size);
  if (!impl_->created_name.empty()) shm_unlink(impl_->created_name.c_str());
}

std::unique_ptr<SharedBlock> SharedBlock::CreateNew(const char* name, std::size_t size) {
  auto impl = std::make_unique<Impl>();
  const std::string posix_name = PosixName(name);
  const int fd = shm_open(posix_name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
  if (fd < 0) return nullptr;
  if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED) {
      impl->data = static_cast<std::uint8_t*>(view);
      impl->size = size;
    }
  }
  close(fd);
  if (impl->data == nullptr) {
    shm_unlink(posix_name.c_str());
    return nullptr;
  }
  impl->created_name = posix_name;
  return std::unique_ptr<SharedBlock>(new SharedBlock(std::move(impl)));
}

int RemoveStaleNames(const char* lock_name, const char* block_name) {
  int removed = 0;
  if (shm_unlink(PosixName(lock_name).c_str()) == 0) ++removed;
  if (shm_unlink(PosixName(block_name).c_str()) == 0) ++removed;
  return removed;
}

std::unique_ptr<SharedBlock> SharedBlock::OpenExisting(const char* name) {
  const int fd = shm_open(PosixName(name).c_str(), O_RDWR, 0);
  if (fd < 0) return nullptr;
  struct stat info {};
  auto impl = std::make_unique<Impl>();
  if (fstat(fd, &info) == 0 && info.st_size > 0) {
    void* view = mmap(nullptr, static_cast<std::size_t>(info.st_size),
                      PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED) {
      impl->data = static_cast<std::uint8_t*>(view);
      impl->size = static_cast<std::size_t>(info.st_size);
    }
  }
  close(fd);  // the mapping stays valid without the descriptor
  if (impl->data == nullptr) return nullptr;
  return std::unique_ptr<SharedBlock>(new SharedBlock(std::move(impl)));
}

std::uint8_t* SharedBlock::data() const { return impl_->data; }
std::size_t SharedBlock::size() const { return impl_->size; }

}  // namespace dwarfsift::platform
