// Compiled only on Windows.
#include <windows.h>
// windows.h makes ReplaceFile a macro for ReplaceFileA, which would rename
// platform::ReplaceFile here but not where it is called.
#undef ReplaceFile

#include <cerrno>

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
