#include "app/input_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>

#include "base/platform.h"
#include "base/text_match.h"

namespace dwarfsift {
namespace {

// A file that is not regular (a pipe, a device) has no size to go by: it is
// read in blocks, joined once it ends, so that refusing one that passes
// `limit` (/dev/zero never ends) holds no more than the limit.
bool ReadStream(std::FILE* file, std::uint64_t limit, std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks;
  std::uint64_t used = 0;
  for (std::size_t last = kBlock; last == kBlock;) {
    if (used > limit) return false;
    blocks.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBlock));
    last = std::fread(blocks.back().get(), 1, kBlock, file);
    used += last;
  }
  if (used > limit) return false;
  bytes.resize(static_cast<std::size_t>(used));
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::size_t at = i * kBlock;
    std::copy_n(blocks[i].get(), std::min<std::size_t>(kBlock, bytes.size() - at),
                bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return true;
}

// Reads the whole file. Returns false when it cannot be opened, or when it
// is too large (`too_large` is then set): beyond what 32-bit positions
// address, or when it is not regular, beyond `stream_limit`.
bool ReadWholeFile(const std::string& path, std::uint64_t stream_limit,
                   std::vector<std::uint8_t>& bytes, bool& too_large, bool& not_regular) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) file = std::fopen(path.c_str(), "rb");  // once more
  if (file == nullptr) return false;
  std::error_code error;
  not_regular = !std::filesystem::is_regular_file(path, error);
  if (not_regular) {
    too_large = !ReadStream(file, stream_limit, bytes);
    std::fclose(file);
    return !too_large;
  }
  constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();
  // A regular file too large is refused before a byte is read. Its size is
  // otherwise only a hint (the file may change while it is read); one byte
  // more tells whether the end was reached.
  const std::uint64_t hint = std::filesystem::file_size(path, error);
  if (!error && hint > kLimit) {
    std::fclose(file);
    too_large = true;
    return false;
  }
  std::size_t chunk = error ? (1u << 20) : static_cast<std::size_t>(hint) + 1;
  std::size_t used = 0;
  for (;;) {
    bytes.resize(used + chunk);
    const std::size_t n = std::fread(bytes.data() + used, 1, chunk, file);
    used += n;
    if (n < chunk) break;
    if (used > kLimit) {
      too_large = true;
      break;
    }
    chunk = 1u << 20;
  }
  std::fclose(file);
  bytes.resize(too_large ? 0 : used);
  return !too_large;
}

}  // namespace

OutputFileSet DeriveOutputFileSet(RunOptions& options) {
  if (options.output_name.empty()) options.output_name = options.input_name;
  if (FindExtension(options.input_name) == options.input_name.size()) {
    options.input_name += ".x";
  }
  const std::string& base = options.output_name;
  const std::size_t dot = FindExtension(base);
  // Up to and including the extension dot, or the whole name and a dot.
  const std::string stem =
      dot == base.size() ? base + "." : base.substr(0, dot + 1);
  OutputFileSet names;
  names.lxx = stem + "LXX";
  names.lin = stem + "LIN";
  names.sym = stem + "SYM";
  names.meb = stem + "MEB";
  if (options.write_srecords) names.mot = stem + "mot";
  return names;
}

std::optional<std::string> OutputNamingInput(const OutputFileSet& names,
                                             const std::string& input_name) {
  const std::optional<platform::FileId> input = platform::FileIdentity(input_name);
  if (!input) return std::nullopt;
  for (const std::string* name : {&names.lxx, &names.lin, &names.sym, &names.meb, &names.mot}) {
    if (!name->empty() && platform::FileIdentity(*name) == input) return *name;
  }
  return std::nullopt;
}

LoadedInput LoadInputFile(const RunOptions& options, std::uint64_t stream_limit) {
  LoadedInput input;
  if (!ReadWholeFile(options.input_name, stream_limit, input.image, input.too_large,
                     input.not_regular)) {
    input.image.clear();
    return input;
  }
  input.input_kind = ClassifyInputName(options.input_name);
  return input;
}

}  // namespace dwarfsift
