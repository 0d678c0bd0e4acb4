// The few operating-system services the tool needs, behind one interface:
// a named lock and a named shared block (both shared with the host debugger),
// a millisecond tick count, a short sleep, the identity of a file, the
// replacing of one file by another, a hint for large memory pages, and the
// stopping of a run by a signal without leaving temporary files.
// platform_posix.cc implements it with POSIX shared memory ("/" + name; the
// lock is a flock on such an object) and signals, and platform_win32.cc,
// compiled only on Windows, with named kernel objects and a console
// control handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace dwarfsift::platform {

// Milliseconds from an arbitrary start; wraps around like a 32-bit counter.
std::uint32_t TickCount();
void SleepMilliseconds(unsigned milliseconds);

// Whether standard output is a terminal that shows UTF-8 (the locale's
// character set on POSIX, the console's output code page on Windows).
bool ConsoleShowsUtf8();
// What makes a file the same file whatever name or link reaches it: the
// device and inode on POSIX, the volume serial and file id on Windows.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  bool operator==(const FileId&) const = default;
};
// None when nothing exists at `path` (or it cannot be looked at).
std::optional<FileId> FileIdentity(const std::string& path);

std::uint32_t ProcessId();

// Asks for large pages behind a big table whose records are visited one
// after another (the symbol slots): with small pages nearly every record
// costs an address-translation miss. Only a hint: where the system has no
// such pages for ordinary memory, nothing changes.
void AdviseLargePages(void* begin, std::size_t size);
// Moves the file `from` over `to` in one step, replacing what `to` named.
// False (errno set) when it cannot.
bool ReplaceFile(const std::string& from, const std::string& to);

// A system-wide lock known by name, created when it does not exist yet. A
// holder that dies, even killed, releases it.
class NamedLock {
 public:
  // Nullptr when the lock can be neither created nor opened.
  static std::unique_ptr<NamedLock> CreateOrOpen(const char* name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // Waits at most one millisecond; true only when the lock was obtained.
  bool TryLockBriefly();
  void Unlock();

  struct Impl;

 private:
  explicit NamedLock(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// A shared memory block that another process created under `name`, mapped
// for reading and writing.
class SharedBlock {
 public:
  // Nullptr when no such block exists or it cannot be mapped.
  static std::unique_ptr<SharedBlock> OpenExisting(const char* name);
  // The host's side: a new zero-filled block of `size` bytes, whose name
  // goes with it. Nullptr when the name is taken or the block cannot be made.
  static std::unique_ptr<SharedBlock> CreateNew(const char* name, std::size_t size);
  ~SharedBlock();
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  std::uint8_t* data() const;
  std::size_t size() const;

  struct Impl;

 private:
  explicit SharedBlock(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Stopping a run cleanly. The first SIGINT, SIGTERM or SIGHUP (on Windows a
// console control event) only records a stop request, which the writers of
// files and messages take (TakeStopRequest) and answer by unwinding the run,
// so that its unfinished files are dropped and it ends with a message. A run
// that does not get there within a few seconds, or a second signal, ends in
// the handler itself: the temporary files still registered are removed, a
// fixed message goes to standard output, and the process ends as killed by
// the signal. SIGPIPE is ignored (a closed console must not cost the files),
// and so is SIGXFSZ (a file size limit then fails the write like a full
// disk). The program's entry installs this once; tests calling the entry
// in-process do not.
void InstallStopHandlers();
// The signal (or console event) asked to stop the run, the first time it is
// asked after a request; 0 otherwise. Taking it cancels the handler's own
// deadline.
int TakeStopRequest();
// The stop request received, taken or not; 0 when none.
int StopRequested();
// Ends the process as killed by `signal` would end it, as a shell expects
// of a run stopped that way; does nothing for 0 or on Windows.
void EndAsStopped(int signal);

// The one process-wide list of the run's temporary files, so that a
// handler can remove them: fixed slots of fixed size, filled before and
// read while a signal may arrive. Register returns the slot, or -1 when the
// name is too long or every slot is taken (the file is then only removed
// by the run itself).
int RegisterTempFile(const std::string& path);
void UnregisterTempFile(int slot);
// Removes every registered file; safe inside a signal handler.
void RemoveTempFiles();

// Removes the names of a lock and a block that a killed process left behind
// (POSIX names outlive their processes; Windows names do not, so there it
// does nothing). A left lock name is never held, but a left block makes a
// new host fail to start. Returns how many names were removed.
int RemoveStaleNames(const char* lock_name, const char* block_name);

}  // namespace dwarfsift::platform
