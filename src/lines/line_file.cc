#include "lines/line_file.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "base/file_headers.h"
#include "base/messages.h"
#include "base/text_match.h"
#include "lines/lxx_format.h"

namespace dwarfsift {
namespace {

bool Begins(std::string_view piece, char first, char second) {
  return piece.size() >= 2 && piece[0] == first && piece[1] == second;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Decimal; reading stops before a digit that would overflow 32 bits.
std::uint32_t ParseLineField(std::string_view field) {
  std::uint64_t value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') break;
    const std::uint64_t next = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (next > 0xFFFFFFFFu) break;
    value = next;
  }
  return static_cast<std::uint32_t>(value);
}

// `text` is a row line without its "+": the address and the line number,
// separated by blanks.
void ParseRow(std::string_view text, std::uint32_t& address, std::uint32_t& line) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const std::size_t address_begin = i;
  while (i < text.size() && !IsBlank(text[i])) ++i;
  address = ParseHexValue(text.substr(address_begin, i - address_begin)).value;
  while (i < text.size() && IsBlank(text[i])) ++i;
  line = ParseLineField(text.substr(i));
}

// A byte that may follow a word matched by MatchWordNoCase.
bool EndsWord(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte <= 32 || byte >= 128;
}

// Appends the row body after `prefix`.
void AppendRow(std::string& out, std::string_view prefix, std::uint32_t address,
               std::uint32_t line) {
  out.append(prefix);
  char body[lxx::kRowBodyMost];
  out.append(body, lxx::FormatRowBody(body, address, line));
}

// Writes `line` as read, with its first character replaced by `lead` when
// that is not 0.
void AppendLed(std::string& out, const std::string& line, char lead) {
  if (line.empty()) return;
  out.push_back(lead != 0 ? lead : line[0]);
  out.append(line, 1);
}

}  // namespace

bool LinePieceReader::Fill() {
  if (file_ == nullptr) return false;
  if (buffer_.empty()) buffer_.resize(std::size_t{1} << 16);
  const std::size_t kept = data_.size();
  if (kept > 0) std::memmove(buffer_.data(), data_.data(), kept);
  const std::size_t got =
      std::fread(buffer_.data() + kept, 1, buffer_.size() - kept, file_);
  data_ = std::string_view(buffer_.data(), kept + got);
  return got > 0;
}

std::size_t LinePieceReader::RemainingHint() const {
  if (file_ == nullptr) return data_.size();
  const long here = std::ftell(file_);
  if (here < 0 || std::fseek(file_, 0, SEEK_END) != 0) return data_.size();
  const long end = std::ftell(file_);
  std::fseek(file_, here, SEEK_SET);
  return data_.size() + static_cast<std::size_t>(end > here ? end - here : 0);
}

bool LinePieceReader::Next(std::string& piece) {
  piece.clear();
  // One byte beyond a full piece decides whether a CR ending it is half of
  // a CR LF pair.
  while (data_.size() <= kPieceLimit && Fill()) {
  }
  if (data_.empty()) return false;

  const std::size_t span = std::min(data_.size(), kPieceLimit + 1);
  const auto* newline = static_cast<const char*>(std::memchr(data_.data(), '\n', span));
  if (newline != nullptr) {
    const std::size_t k = static_cast<std::size_t>(newline - data_.data());
    if (k > 0 && data_[k - 1] == '\r') {
      piece.assign(data_.data(), k - 1);
      piece.push_back('\n');
      data_.remove_prefix(k + 1);
      return true;
    }
    if (k < kPieceLimit) {
      piece.assign(data_.data(), k + 1);
      data_.remove_prefix(k + 1);
      return true;
    }
  }
  // No line end fits: the piece is full, or the input ends.
  const std::size_t n = std::min(data_.size(), kPieceLimit);
  piece.assign(data_.data(), n);
  data_.remove_prefix(n);
  return true;
}

void ReadLineListing(LinePieceReader& reader, LineFileTable& table) {
  std::vector<LineFileBlock>& blocks = table.blocks;
  // Room for as many rows as the listing can hold when every line is a row
  // line as the line phase writes it, so the store rarely has to move; a
  // listing full of trace text must not reserve without end.
  constexpr std::size_t kShortestRowLine = 19;
  constexpr std::size_t kMostReserved = std::size_t{1} << 22;
  const std::size_t most_rows =
      std::min(reader.RemainingHint() / kShortestRowLine, kMostReserved);
  table.rows.addresses.reserve(table.rows.size() + most_rows);
  table.rows.lines.reserve(table.rows.size() + most_rows);
  std::string piece;
  std::string directory_line;
  bool start_pending = false;
  while (reader.Next(piece)) {
    if (Begins(piece, lxx::kDirectoryLead[0], lxx::kDirectoryLead[1])) {
      directory_line = piece;
    } else if (Begins(piece, lxx::kFileLead[0], lxx::kFileLead[1])) {
      LineFileBlock& block = blocks.emplace_back();
      block.directory_line = directory_line;
      block.file_line = piece;
      block.state = start_pending ? LineBlockState::kStart : LineBlockState::kPlain;
      block.first_row = table.rows.size();
      directory_line.clear();
      start_pending = false;
    } else if (Begins(piece, lxx::kRowLead, lxx::kRowAddressPrefix[0])) {
      if (blocks.empty()) continue;
      std::uint32_t address = 0;
      std::uint32_t line = 0;
      ParseRow(std::string_view(piece).substr(1), address, line);
      table.rows.Append(address, line);
      ++blocks.back().row_count;
    } else if (!piece.empty() && piece[0] == lxx::kStartMarker[0]) {
      start_pending = true;
    } else if (!piece.empty() && piece[0] == lxx::kEndMarker[0]) {
      if (blocks.empty()) continue;
      // An end marker on a block without rows takes no row slot: rows that
      // still follow for this block must stay contiguous with its start.
      LineFileBlock& block = blocks.back();
      block.state = (block.row_count > 0 && block.state == LineBlockState::kPlain)
                        ? LineBlockState::kEnd
                        : LineBlockState::kStartEnd;
    }
  }
}

void MergeRepeatedFiles(std::vector<LineFileBlock>& blocks) {
  const std::size_t n = blocks.size();
  if (n < 2) return;

  std::vector<std::string> keys(n);
  for (std::size_t b = 0; b < n; ++b) {
    keys[b] = blocks[b].file_line;
    for (char& c : keys[b]) c = UpperAscii(c);
  }
  // Equal keys end up next to each other in table order, and every key that
  // begins with another follows it directly.
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

  // matched: some other block's file line matches this one's.
  // earlier_rows: an earlier block with rows matches this one.
  std::vector<char> matched(n, 0);
  std::vector<char> earlier_rows(n, 0);
  for (std::size_t g = 0; g < n;) {
    const std::string& word = keys[order[g]];
    std::size_t group_end = g + 1;
    while (group_end < n && keys[order[group_end]] == word) ++group_end;
    const std::size_t last_in_group = order[group_end - 1];

    bool rows_seen = false;
    for (std::size_t k = g; k < group_end; ++k) {
      const std::size_t b = order[k];
      if (group_end - g >= 2) matched[b] = 1;
      if (rows_seen) earlier_rows[b] = 1;
      if (blocks[b].row_count > 0) rows_seen = true;
    }

    // A longer file line that continues this one after a word end matches
    // the blocks of this group that come after it. File lines end in their
    // newline, so in practice no other line continues one.
    std::size_t first_longer = n;
    std::size_t first_longer_rows = n;
    for (std::size_t t = group_end; t < n; ++t) {
      const std::string& text = keys[order[t]];
      if (!text.starts_with(word)) break;
      if (!EndsWord(text[word.size()])) continue;
      const std::size_t b = order[t];
      if (b < last_in_group) matched[b] = 1;
      first_longer = std::min(first_longer, b);
      if (blocks[b].row_count > 0) first_longer_rows = std::min(first_longer_rows, b);
    }
    for (std::size_t k = g; k < group_end; ++k) {
      const std::size_t b = order[k];
      if (first_longer < b) matched[b] = 1;
      if (first_longer_rows < b) earlier_rows[b] = 1;
    }
    g = group_end;
  }

  for (std::size_t b = 0; b < n; ++b) {
    if (blocks[b].row_count == 0) {
      if (matched[b]) blocks[b].state = LineBlockState::kDropped;
    } else if (earlier_rows[b]) {
      blocks[b].state = LineBlockState::kMerged;
    }
  }
}

void MarkInlinedFiles(std::vector<LineFileBlock>& blocks) {
  const std::size_t n = blocks.size();
  // The end of the sequence running through each block. The pass only
  // changes blocks behind the one it is at, so this stays valid.
  std::vector<std::size_t> sequence_end(n + 1, n);
  for (std::size_t b = n; b-- > 0;) {
    const bool ends = blocks[b].file_line.empty() || blocks[b].state == LineBlockState::kEnd;
    sequence_end[b] = ends ? b : sequence_end[b + 1];
  }
  for (std::size_t a = 0; a < n;) {
    const LineFileBlock& start = blocks[a];
    if (start.file_line.empty() || start.state != LineBlockState::kStart ||
        sequence_end[a] == n) {
      ++a;
      continue;
    }
    const std::size_t e = sequence_end[a];
    for (std::size_t j = a + 1; j <= e; ++j) {
      LineFileBlock& block = blocks[j];
      if (block.file_line.empty()) continue;
      block.state = MatchWordNoCase(start.file_line, block.file_line)
                        ? LineBlockState::kMerged
                        : LineBlockState::kInlined;
    }
    a = e + 1;
  }
}

void WriteLineBlocks(OutputFile& lin, const LineFileTable& table) {
  const std::vector<LineFileBlock>& blocks = table.blocks;
  std::string out;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const LineFileBlock& block = blocks[b];
    const LineBlockState state = block.state;
    if (state == LineBlockState::kDropped) continue;
    if (state == LineBlockState::kStart || state == LineBlockState::kStartEnd) {
      out.append(lxx::kStartMarker);
    }
    const char lead = state == LineBlockState::kMerged    ? '='
                      : state == LineBlockState::kInlined ? '>'
                                                          : 0;
    AppendLed(out, block.directory_line, lead);
    AppendLed(out, block.file_line, lead);

    const char written_first = lead != 0 ? lead : (block.file_line.empty() ? 0 : block.file_line[0]);
    const std::string_view prefix = (written_first == '+' || written_first == '=') ? "+"
                                    : written_first == '>'                        ? ">"
                                                                                  : "";
    for (std::size_t r = block.first_row; r < block.first_row + block.row_count; ++r) {
      AppendRow(out, prefix, table.rows.addresses[r], table.rows.lines[r]);
      if (out.size() >= (std::size_t{1} << 16)) {
        lin.Write(out);
        out.clear();
      }
    }
    if (state == LineBlockState::kEnd || state == LineBlockState::kStartEnd ||
        b + 1 == blocks.size()) {
      out.append(lxx::kEndMarker);
    }
  }
  lin.Write(out);
}

void FinishLineListing(LinePieceReader& lxx, OutputFile& lin, const RunContext& run,
                       int dwarf_version) {
  std::string first;
  if (!lxx.Next(first) || !StartsWith(first, texts::kHeaderTool)) return;
  WriteLineFileHeader(lin, run);
  WriteDwarfVersionLine(lin, dwarf_version);

  LineFileTable table;
  ReadLineListing(lxx, table);
  MergeRepeatedFiles(table.blocks);
  if (run.options.inline_delete) MarkInlinedFiles(table.blocks);
  WriteLineBlocks(lin, table);
}

void FinishLineFile(const std::string& lin_name, const std::string& lxx_name,
                    RunContext& run, int dwarf_version) {
  OutputFile lin;
  if (!run.channel.CreateOutput(lin, lin_name)) return;
  if (std::FILE* lxx = std::fopen(lxx_name.c_str(), "rb")) {
    LinePieceReader reader(lxx);
    FinishLineListing(reader, lin, run, dwarf_version);
    std::fclose(lxx);
  }
  run.channel.CommitOutput(lin, lin_name);
}

}  // namespace dwarfsift
