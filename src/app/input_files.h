// The output names of a run and the loading of the input file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/input_kind.h"
#include "base/run_options.h"

namespace dwarfsift {

// The five output names; `mot` is empty unless S-records were asked for.
struct OutputFileSet {
  std::string lxx;
  std::string lin;
  std::string sym;
  std::string meb;
  std::string mot;
};

struct LoadedInput {
  std::uint32_t input_kind = 0;
  // The whole file; empty when it could not be read or holds no byte.
  std::vector<std::uint8_t> image;
  // The file was readable but too large: for 32-bit positions, or, when it
  // is no regular file, for the stream limit.
  bool too_large = false;
  bool not_regular = false;
};

// Completes `options.output_name` (from the input name) and
// `options.input_name` (".x" when it has no extension) and derives the
// output names from the output name. This ends the parsing of the names: the
// options are not changed after it.
OutputFileSet DeriveOutputFileSet(RunOptions& options);

// The first output name that reaches the input file itself (the same file
// under another spelling or through a link included); none when every
// output is another file.
std::optional<std::string> OutputNamingInput(const OutputFileSet& names,
                                             const std::string& input_name);

// What is read at most from an input that is no regular file.
inline constexpr std::uint64_t kStreamInputLimit = std::uint64_t{1} << 30;

// Reads the whole input file named by the completed input name and classifies
// that name. An input that is no regular file (a pipe, a device) is refused
// once it gives more than `stream_limit` bytes.
LoadedInput LoadInputFile(const RunOptions& options,
                          std::uint64_t stream_limit = kStreamInputLimit);

}  // namespace dwarfsift
