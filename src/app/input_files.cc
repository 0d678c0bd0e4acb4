#include "app/input_files.h"

#include <cstdio>
#include <filesystem>
#include <limits>

#include "base/platform.h"
#include "base/text_match.h"

namespace dwarfsift {
namespace {

// Reads the whole file. Returns false when it cannot be opened, or when it
// grows beyond what 32-bit positions can address (`too_large` is then set).
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                   bool& too_large) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) file = std::fopen(path.c_str(), "rb");  // once more
  if (file == nullptr) return false;
  constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();
  // A regular file too large is refused before a byte is read. Its size is
  // otherwise only a hint (the file may change while it is read); one byte
  // more tells whether the end was reached. Other files (a pipe, a device)
  // are read until they end or pass the limit.
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(path, error);
  const std::uint64_t hint = regular ? std::filesystem::file_size(path, error) : 0;
  if (regular && !error && hint > kLimit) {
    std::fclose(file);
    too_large = true;
    return false;
  }
  std::size_t chunk = !regular || error ? (1u << 20) : static_cast<std::size_t>(hint) + 1;
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

LoadedInput LoadInputFile(const RunOptions& options) {
  LoadedInput input;
  if (!ReadWholeFile(options.input_name, input.image, input.too_large)) {
    input.image.clear();
    return input;
  }
  input.input_kind = ClassifyInputName(options.input_name);
  return input;
}

}  // namespace dwarfsift
