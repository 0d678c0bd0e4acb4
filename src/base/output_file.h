// A text output file of the tool: opened in binary, every "\n" of the texts
// written to it goes out as CR LF on every platform, and texts are written
// unchanged otherwise (a "%" in a finished text stays a "%").
//
// For tests a file can also live in memory.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace dwarfsift {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates (or replaces) the file at `path`. Returns false when it cannot
  // be created.
  bool Create(const std::string& path);
  // Collects everything written in memory instead of a file.
  void CreateInMemory();

  bool is_open() const { return file_ != nullptr || in_memory_; }
  void Write(std::string_view text);
  // Returns false when any byte could not be written (a full disk, say).
  bool Close();

  // The bytes written so far to an in-memory file (line ends already CR LF).
  const std::string& memory() const { return memory_; }

 private:
  void WriteRaw(std::string_view bytes);
  void Flush();

  std::FILE* file_ = nullptr;
  // Texts arrive a line at a time; they are gathered here and handed to the
  // file in large blocks, which keeps the per-line cost to a copy.
  std::string pending_;
  bool in_memory_ = false;
  bool write_failed_ = false;
  std::string memory_;
};

}  // namespace dwarfsift
