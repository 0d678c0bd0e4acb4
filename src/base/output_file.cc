#include "base/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/platform.h"

namespace dwarfsift {
namespace {
constexpr std::size_t kFlushSize = 1 << 16;

// Names tried for the new file before giving up: only leftovers of killed
// runs (process ids repeat, in containers above all) take them.
constexpr int kNameAttempts = 100;

// A name of our own beside `path`: the process id keeps simultaneous runs
// apart, the count the files of one run.
std::string NewFileBeside(const std::string& path) {
  static unsigned count = 0;
  return path + ".~" + std::to_string(platform::ProcessId()) + "-" +
         std::to_string(++count) + ".tmp";
}

}  // namespace

void StopIfRequested() {
  // Not while the run unwinds already: the request waits for the entry.
  if (std::uncaught_exceptions() > 0) return;
  if (const int signal = platform::TakeStopRequest()) throw RunStopRequested{signal};
}

bool OutputFile::Create(const std::string& path) {
  Close();
  path_ = path;
  error_.clear();
  std::error_code ignored;
  const auto status = std::filesystem::status(path, ignored);
  const bool direct =
      std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temp_path_ = direct ? std::string() : NewFileBeside(path);
    // "x": created here and now, never opened over an existing file.
    file_ = std::fopen(written_path().c_str(), direct ? "wb" : "wbx");
    if (file_ != nullptr || direct || errno != EEXIST) break;
  }
  if (file_ == nullptr) {
    NoteError();
    temp_path_.clear();
    return false;
  }
  if (!temp_path_.empty()) temp_slot_ = platform::RegisterTempFile(temp_path_);
  complete_ = true;
  pending_.clear();
  pending_.reserve(kFlushSize + 256);
  return true;
}

void OutputFile::CreateInMemory() {
  Close();
  in_memory_ = true;
  memory_.clear();
}

void OutputFile::Write(std::string_view text) {
  while (!text.empty()) {
    const void* newline = std::memchr(text.data(), '\n', text.size());
    if (newline == nullptr) {
      WriteRaw(text);
      return;
    }
    const std::size_t n = static_cast<const char*>(newline) - text.data();
    WriteRaw(text.substr(0, n));
    WriteRaw("\r\n");
    text.remove_prefix(n + 1);
  }
}

void OutputFile::WriteRaw(std::string_view bytes) {
  if (bytes.empty()) return;
  if (file_ != nullptr) {
    pending_.append(bytes);
    if (pending_.size() >= kFlushSize) {
      StopIfRequested();
      Flush();
    }
  } else if (in_memory_) {
    memory_.append(bytes);
  }
}

void OutputFile::NoteError() {
  if (error_.empty()) error_ = std::strerror(errno);
}

void OutputFile::Flush() {
  if (pending_.empty()) return;
  if (complete_ &&
      std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) {
    NoteError();
    complete_ = false;  // nothing after a gap is worth writing
  }
  pending_.clear();
}

bool OutputFile::Finish() {
  if (file_ != nullptr) {
    Flush();
    if (std::fclose(file_) != 0 && complete_) {
      NoteError();
      complete_ = false;
    }
    file_ = nullptr;
  }
  in_memory_ = false;
  return complete_;
}

bool OutputFile::Commit() {
  bool complete = Finish();
  if (!temp_path_.empty()) {
    if (complete && !platform::ReplaceFile(temp_path_, path_)) {
      NoteError();
      complete = false;
    }
    if (!complete) std::remove(temp_path_.c_str());
    DropTempFile();
  }
  complete_ = true;
  return complete;
}

void OutputFile::Discard() {
  complete_ = false;
  pending_.clear();
  Finish();
  if (!temp_path_.empty()) std::remove(temp_path_.c_str());
  DropTempFile();
  complete_ = true;
}

void OutputFile::DropTempFile() {
  platform::UnregisterTempFile(temp_slot_);
  temp_slot_ = -1;
  temp_path_.clear();
}

}  // namespace dwarfsift
