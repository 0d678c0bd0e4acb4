#include "app/output_file.h"

#include <cstring>

namespace dwarfsift {

bool OutputFile::Create(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  write_failed_ = false;
  // Line files of large images run to many megabytes; write in big blocks.
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
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
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
      write_failed_ = true;
    }
  } else if (in_memory_) {
    memory_.append(bytes);
  }
}

bool OutputFile::Close() {
  bool complete = true;
  if (file_ != nullptr) {
    complete = std::fclose(file_) == 0 && !write_failed_;
    file_ = nullptr;
  }
  in_memory_ = false;
  return complete;
}

}  // namespace dwarfsift
