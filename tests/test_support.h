// Small helpers shared by the tests: paths of the committed inputs, reading
// files, a scratch directory, and running the built tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/wait.h>

namespace dwarfsift::testing {

inline std::string TestDataPath(const std::string& name) {
  return std::string(DWARFSIFT_TEST_DATA) + "/" + name;
}

inline std::string ExamplePath(const std::string& name) {
  return std::string(DWARFSIFT_EXAMPLES) + "/" + name;
}

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  const std::string text = ReadFileText(path);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// How often `part` stands in `text`, overlapping places included.
inline int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A fresh directory, removed again when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "dwarfsift-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command and returns its standard output; `status` receives
// the exit status (0..255) when given.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int raw = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

// Whether `tool --version` runs, for tests that compare with other tools.
inline bool HaveTool(const std::string& tool) {
  return RunCommand(tool + " --version >/dev/null 2>&1 && echo ok") == "ok\n";
}

}  // namespace dwarfsift::testing
