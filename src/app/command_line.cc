#include "app/command_line.h"

#include "base/text_match.h"

namespace dwarfsift {
namespace {

// Applies an option that is matched as a whole word. Returns false when `arg`
// is none of them.
bool ApplyFlag(std::string_view arg, RunOptions& o) {
  struct Flag {
    std::string_view text;
    void (*apply)(RunOptions&);
  };
  static constexpr Flag kFlags[] = {
      {"-d", [](RunOptions& r) { r.debug_trace = true; }},
      {"-p", [](RunOptions& r) { r.echo_trace = false; }},
      {"-a", [](RunOptions& r) { r.write_srecords = true; }},
      {"-adef", [](RunOptions& r) { r.host_mailbox = true; }},
      {"-2", [](RunOptions& r) { r.pointer_size = 2; }},
      {"-r", [](RunOptions& r) { r.directory_info = false; }},
      {"-s", [](RunOptions& r) { r.sort_lines = false; }},
      {"-g", [](RunOptions& r) { r.global_statics = true; }},
      {"-i", [](RunOptions& r) { r.inline_delete = true; }},
      {"-f", [](RunOptions& r) { r.all_includes = true; }},
      {"-m", [](RunOptions& r) { r.merge_duplicates = true; }},
      {"-l", [](RunOptions& r) { r.no_locals = true; }},
      {"-x", [](RunOptions& r) { r.no_local_structs = true; }},
      {"-z", [](RunOptions& r) { r.no_members = true; }},
      {"-e", [](RunOptions& r) { r.entry_positions = true; }},
  };
  for (const Flag& flag : kFlags) {
    if (arg == flag.text) {
      flag.apply(o);
      return true;
    }
  }
  return false;
}

}  // namespace

InfoRequest FindInfoRequest(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    if (arg == "--help" || arg == "-h") return InfoRequest::kHelp;
    if (arg == "--version") return InfoRequest::kVersion;
  }
  return InfoRequest::kNone;
}

bool ParseCommandLine(int argc, const char* const* argv, RunOptions& options,
                      std::string& echo_line) {
  options.input_name.clear();
  options.output_name.clear();
  echo_line = "/usage: ";
  if (argc > 0 && argv[0] != nullptr) echo_line += argv[0];

  bool expect_output_name = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    echo_line += ' ';
    echo_line += arg;
    if (echo_line.size() >= kEchoLineLimit) {
      return false;  // later arguments are ignored, and -i keeps -m as it is
    }
    if (ApplyFlag(arg, options)) continue;
    if (arg.starts_with("-?")) {
      options.trace_trigger = true;
      options.trace_trigger_pos = ParseHexValue(arg.substr(2)).value;
      continue;
    }
    if (arg == "-o") {
      expect_output_name = true;
      continue;
    }
    if (expect_output_name) {
      options.output_name = arg;
      expect_output_name = false;
    } else {
      options.input_name = arg;
    }
  }
  if (options.inline_delete) options.merge_duplicates = false;
  return true;
}

}  // namespace dwarfsift
