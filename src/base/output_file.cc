#include "base/output_file.h"

#include <cstring>

namespace dwarfsift {
namespace {
constexpr std::size_t kFlushSize = 1 << 16;
}  // namespace

bool OutputFile::Create(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  write_failed_ = false;
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
    if (pending_.size() >= kFlushSize) Flush();
  } else if (in_memory_) {
    memory_.append(bytes);
  }
}

void OutputFile::Flush() {
  if (pending_.empty()) return;
  if (std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) {
    write_failed_ = true;
  }
  pending_.clear();
}

bool OutputFile::Close() {
  bool complete = true;
  if (file_ != nullptr) {
    Flush();
    complete = std::fclose(file_) == 0 && !write_failed_;
    file_ = nullptr;
  }
  in_memory_ = false;
  return complete;
}

}  // namespace dwarfsift
