#include "app/input_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "base/platform.h"
#include "base/text_match.h"

namespace dwarfsift {
namespace {

// Reads the whole file. Returns false when it cannot be opened, or when it
// gives more than `limit` bytes (`too_large` is then set). A file that is
// not regular (a pipe, a device) is read to its end or to
// `stream_limit`, whichever comes first: /dev/zero never ends.
bool ReadWholeFile(const std::string& path, std::uint64_t stream_limit,
                   std::vector<std::uint8_t>& bytes, bool& too_large, bool& not_regular) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) file = std::fopen(path.c_str(), "rb");  // once more
  if (file == nullptr) return false;
  // A regular file too large is refused before a byte is read. Its size is
  // otherwise only a hint (the file may change while it is read); one byte
  // more tells whether the end was reached.
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(path, error);
  not_regular = !regular;
  const std::uint64_t hint = regular ? std::filesystem::file_size(path, error) : 0;
  const std::uint64_t limit =
      regular ? std::uint64_t{std::numeric_limits<std::uint32_t>::max()} : stream_limit;
  if (regular && !error && hint > limit) {
    std::fclose(file);
    too_large = true;
    return false;
  }
  std::size_t chunk = !regular || error ? (1u << 20) : static_cast<std::size_t>(hint) + 1;
  std::size_t used = 0;
  for (;;) {
    // The block grows by doubling, but never past the limit and one byte.
    if (used + chunk > bytes.capacity()) {
      bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
          std::max<std::uint64_t>(2 * bytes.capacity(), used + chunk), limit + 1)));
    }
    bytes.resize(used + chunk);
    const std::size_t n = std::fread(bytes.data() + used, 1, chunk, file);
    used += n;
    if (n < chunk) break;
    if (used > limit) {
      too_large = true;
      break;
    }
    chunk = static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, limit + 1 - used));
  }
  std::fclose(file);
  bytes.resize(too_large ? 0 : used);
  if (too_large) bytes.shrink_to_fit();
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
