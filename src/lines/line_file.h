// Line file finishing: the LXX listing that the line phase wrote is read back
// into file blocks (one per file line, each with its run of address/line
// rows), blocks of repeated files are merged or dropped, with -i the files
// inlined into a sequence are marked, and the LIN file the debugger loads is
// written from the blocks.
//
// FinishLineFile does all of it from file names; the steps below it are
// separate so that each can be run on its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/output_file.h"
#include "base/run_context.h"

namespace dwarfsift {

enum class LineBlockState : std::uint32_t {
  kPlain = 0,        // in the middle of a sequence
  kStart = 0x11,     // a start marker came before its file line
  kEnd = 0xFF,       // an end marker followed its rows
  kStartEnd = 0x77,  // both, or an end marker found it without rows
  kDropped = 0xDD,   // not written at all
  kMerged = 0x22,    // written with "=" leading its directory and file lines
  kInlined = 0x33,   // written with ">" leading its lines and rows
};

// One file line of the listing with the rows that follow it.
struct LineFileBlock {
  // The last directory line read before the file line, as read (newline
  // included); empty when none came since the previous file line.
  std::string directory_line;
  // The file line that opened the block, as read.
  std::string file_line;
  LineBlockState state = LineBlockState::kPlain;
  std::size_t row_count = 0;
  std::size_t first_row = 0;  // index into the row store
};

// The rows of all blocks, one contiguous run per block, in reading order.
// The store grows with the listing, so no row is ever dropped.
struct LineRowStore {
  std::vector<std::uint32_t> addresses;
  std::vector<std::uint32_t> lines;

  std::size_t size() const { return addresses.size(); }
  void Append(std::uint32_t address, std::uint32_t line) {
    addresses.push_back(address);
    lines.push_back(line);
  }
};

struct LineFileTable {
  std::vector<LineFileBlock> blocks;
  LineRowStore rows;
};

// Hands out the lines of a listing in pieces of at most kPieceLimit
// characters, as a line reader with a fixed buffer would: a longer line
// arrives as several pieces. A piece keeps its line end as "\n"; both "\r\n"
// (the tool writes CR LF everywhere) and a bare "\n" end a line, and "\r\n"
// counts as one character. A lone "\r" is an ordinary character.
class LinePieceReader {
 public:
  static constexpr std::size_t kPieceLimit = 255;

  // Reads from an open file (not closed here).
  explicit LinePieceReader(std::FILE* file) : file_(file) {}
  // Reads from bytes in memory, which must outlive the reader.
  explicit LinePieceReader(std::string_view bytes) : data_(bytes) {}

  // The next piece into `piece`; false at the end of the input.
  bool Next(std::string& piece);
  // The number of bytes still to read, as far as is known up front.
  std::size_t RemainingHint() const;

 private:
  // Makes at least one unread byte available; false at the end.
  bool Fill();

  std::FILE* file_ = nullptr;
  std::string_view data_;  // unread bytes
  std::vector<char> buffer_;
};

// Reads the listing after its header line into `table`. A row line before
// any file line and an end marker before any file line are ignored.
void ReadLineListing(LinePieceReader& reader, LineFileTable& table);

// Marks repeated files: a block without rows whose file line matches another
// block's is dropped; a block with rows whose file line matches an earlier
// block with rows is merged. Two file lines match when the earlier begins
// with the later, letters compared without regard to case, and nothing
// follows in the earlier but a blank, control or non-ASCII byte
// (MatchWordNoCase). Blocks are grouped by their case-folded file line, so
// the cost does not grow with the square of the block count.
void MergeRepeatedFiles(std::vector<LineFileBlock>& blocks);

// The -i pass: inside each sequence that begins with a start block and runs
// to the next end block, later blocks of the same file become merged and
// blocks of other files inlined.
void MarkInlinedFiles(std::vector<LineFileBlock>& blocks);

// Writes the blocks (after the header) in table order.
void WriteLineBlocks(OutputFile& lin, const LineFileTable& table);

// The whole finishing on an open listing and LIN file: checks the listing's
// first line, writes the LIN header with `dwarf_version`, reads, merges,
// marks inlined files with -i, and writes the blocks. A listing that does
// not begin with the tool's header line leaves the LIN file empty.
void FinishLineListing(LinePieceReader& lxx, OutputFile& lin, const RunContext& run,
                       int dwarf_version);

// Reads the LXX file `lxx_name` and writes the LIN file `lin_name`. When the
// LXX file cannot be opened the LIN file stays empty. A LIN file that could
// not be created or written completely is reported on the run's channel
// (and its name keeps what it had).
void FinishLineFile(const std::string& lin_name, const std::string& lxx_name,
                    RunContext& run, int dwarf_version);

}  // namespace dwarfsift
