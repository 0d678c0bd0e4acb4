// A text output file of the tool: opened in binary, every "\n" of the texts
// written to it goes out as CR LF on every platform, and texts are written
// unchanged otherwise (a "%" in a finished text stays a "%").
//
// The bytes go to a new file beside the final name, which takes that name
// only once it is complete: a reader never sees a half-written file under
// the name, and a file that could not be written leaves the name as it was.
//
// A run asked to stop (platform::InstallStopHandlers) unwinds from its next
// block of file bytes or its next message; a file destroyed while the run
// unwinds is dropped, not committed.
//
// For tests a file can also live in memory.
#pragma once

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

namespace dwarfsift {

// Thrown where a run takes a stop request; the entry catches it.
struct RunStopRequested {
  int signal = 0;
};
// Throws RunStopRequested when a stop was requested and not yet taken.
void StopIfRequested();

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() {
    if (std::uncaught_exceptions() > 0) {
      Discard();
    } else {
      Close();
    }
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts the file that is to replace `path`. Returns false when it cannot
  // be created (error() says why). An existing `path` that is no regular
  // file (a device, a pipe) is written directly: it cannot be replaced. The
  // new file gets a name nobody has: one that exists already, a leftover of
  // a killed run say, is passed over and left alone.
  bool Create(const std::string& path);
  // Collects everything written in memory instead of a file.
  void CreateInMemory();

  bool is_open() const { return file_ != nullptr || in_memory_; }
  void Write(std::string_view text);
  // Writes text whose line ends are already CR LF, as it is.
  void WriteCrLfText(std::string_view text) { WriteRaw(text); }

  // Writes out what is pending and closes the file without giving it its
  // name. Returns false when any byte could not be written (a full disk,
  // say); the bytes stay readable at written_path() until Commit or
  // Discard.
  bool Finish();
  // Finishes the file and moves it over its name. Returns false when it was
  // incomplete or could not be moved; the name then keeps what it had.
  bool Commit();
  // Commit under the name every caller knows.
  bool Close() { return Commit(); }
  // Drops the new file; the name keeps what it had.
  void Discard();

  // Where the bytes are until Commit.
  const std::string& written_path() const { return temp_path_.empty() ? path_ : temp_path_; }
  // The system's reason for the last failure to create, write or move.
  const std::string& error() const { return error_; }

  // The bytes written so far to an in-memory file (line ends already CR LF).
  const std::string& memory() const { return memory_; }

 private:
  void WriteRaw(std::string_view bytes);
  void Flush();
  void NoteError();
  void DropTempFile();

  std::FILE* file_ = nullptr;
  std::string path_;       // the final name
  std::string temp_path_;  // the new file beside it; empty when written directly
  int temp_slot_ = -1;     // its place in platform's list of temporary files
  // Texts arrive a line at a time; they are gathered here and handed to the
  // file in large blocks, which keeps the per-line cost to a copy.
  std::string pending_;
  bool in_memory_ = false;
  bool complete_ = true;
  std::string error_;
  std::string memory_;
};

}  // namespace dwarfsift
