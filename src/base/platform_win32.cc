// Compiled only on Windows.
#include <windows.h>
// windows.h makes ReplaceFile a macro for ReplaceFileA, which would rename
// platform::ReplaceFile here but not where it is called.
#undef ReplaceFile

#include <cerrno>
#include <cstdio>
#include <exception>
#include <io.h>

#include "base/messages.h"
#include "base/platform.h"

namespace dwarfsift::platform {

std::uint32_t TickCount() { return GetTickCount(); }

void SleepMilliseconds(unsigned milliseconds) { SleepEx(milliseconds, FALSE); }

bool ConsoleShowsUtf8() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || out == nullptr || GetFileType(out) != FILE_TYPE_CHAR ||
      GetConsoleMode(out, &mode) == 0) {
    return false;
  }
  return GetConsoleOutputCP() == CP_UTF8;
}

std::optional<FileId> FileIdentity(const std::string& path) {
  // Opened for no access at all: only the identity is wanted, and a file
  // another program holds open still answers.
  HANDLE file = CreateFileA(path.c_str(), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL known = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!known) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber,
                (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::uint32_t ProcessId() { return GetCurrentProcessId(); }

// Large pages for ordinary allocations need a privilege users rarely hold.
void AdviseLargePages(void*, std::size_t) {}

bool ReplaceFile(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}

namespace {

volatile LONG stop_event = 0;  // the first console event + 1
volatile LONG stop_taken = 0;

// Runs on a thread of its own. Ctrl+C and Ctrl+Break only ask: the run
// unwinds at its next file or message write, and a second one ends the
// process at once. On closing, logging off and shutting down the process
// ends when the handler returns, so it waits for the run to end first.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (InterlockedCompareExchange(&stop_event, static_cast<LONG>(event) + 1, 0) != 0) {
    return FALSE;
  }
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) SleepEx(4000, FALSE);
  return TRUE;
}

// An exception that met a function that may not throw: an allocation that
// failed there, or a stop request taken by a write from a destructor.
[[noreturn]] void OnTerminate() {
  std::fflush(stdout);
  const std::string_view text = stop_event != 0 ? texts::kStopped : texts::kUnexpectedStop;
  _write(1, text.data(), static_cast<unsigned>(text.size()));
  _exit(251);  // the status of a lost output
}

}  // namespace

// Open files cannot be deleted here, so the handler never removes them: the
// run's own unwinding does. The list is not kept.
int RegisterTempFile(const std::string&) { return -1; }
void UnregisterTempFile(int) {}
void RemoveTempFiles() {}

void InstallStopHandlers() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  std::set_terminate(OnTerminate);
}

int StopRequested() { return static_cast<int>(stop_event); }

int TakeStopRequest() {
  if (stop_event == 0 || InterlockedExchange(&stop_taken, 1) != 0) return 0;
  return static_cast<int>(stop_event);
}

void EndAsStopped(int) {}

struct NamedLock::Impl {
  HANDLE mutex = nullptr;
};

NamedLock::NamedLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

NamedLock::~NamedLock() {
  if (impl_->mutex != nullptr) CloseHandle(impl_->mutex);
}

std::unique_ptr<NamedLock> NamedLock::CreateOrOpen(const char* name) {
  auto impl = std::make_unique<Impl>();
  // Not owned on creation; opens the host's mutex when it already exists.
  impl->mutex = CreateMutexA(nullptr, FALSE, name);
  if (impl->mutex == nullptr) return nullptr;
  return std::unique_ptr<NamedLock>(new NamedLock(std::move(impl)));
}

bool NamedLock::TryLockBriefly() {
  return WaitForSingleObject(impl_->mutex, 1) == WAIT_OBJECT_0;
}

void NamedLock::Unlock() { ReleaseMutex(impl_->mutex); }

struct SharedBlock::Impl {
  HANDLE mapping = nullptr;
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

SharedBlock::SharedBlock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SharedBlock::~SharedBlock() {
  if (impl_->data != nullptr) UnmapViewOfFile(impl_->data);
  if (impl_->mapping != nullptr) CloseHandle(impl_->mapping);
}

std::unique_ptr<SharedBlock> SharedBlock::OpenExisting(const char* name) {
  auto impl = std::make_unique<Impl>();
  impl->mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (impl->mapping == nullptr) return nullptr;
  void* view = MapViewOfFile(impl->mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (view == nullptr) {
    CloseHandle(impl->mapping);
    return nullptr;
  }
  MEMORY_BASIC_INFORMATION info{};
  VirtualQuery(view, &info, sizeof info);
  impl->data = static_cast<std::uint8_t*>(view);
  impl->size = info.RegionSize;
  return std::unique_ptr<SharedBlock>(new SharedBlock(std::move(impl)));
}

std::unique_ptr<SharedBlock> SharedBlock::CreateNew(const char* name, std::size_t size) {
  auto impl = std::make_unique<Impl>();
  impl->mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     static_cast<DWORD>(size), name);
  if (impl->mapping == nullptr) return nullptr;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(impl->mapping);
    return nullptr;
  }
  void* view = MapViewOfFile(impl->mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    CloseHandle(impl->mapping);
    return nullptr;
  }
  impl->data = static_cast<std::uint8_t*>(view);
  impl->size = size;
  return std::unique_ptr<SharedBlock>(new SharedBlock(std::move(impl)));
}

int RemoveStaleNames(const char*, const char*) { return 0; }

std::uint8_t* SharedBlock::data() const { return impl_->data; }
std::size_t SharedBlock::size() const { return impl_->size; }

}  // namespace dwarfsift::platform
