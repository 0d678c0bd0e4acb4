#include "app/entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <utility>

#include "app/command_line.h"
#include "app/driver.h"
#include "app/input_files.h"
#include "base/messages.h"
#include "base/platform.h"
#include "base/run_context.h"
#include "base/text_match.h"
#include "elf/elf_image.h"
#include "lines/line_file.h"

namespace dwarfsift {

namespace {

#ifndef DWARFSIFT_VERSION
#define DWARFSIFT_VERSION "unknown"
#endif

// Help and version go to standard output only: they are for the person at
// the terminal, not for the host debugger's mailbox.
int ShowInfo(InfoRequest request, std::string* console_capture) {
  std::string text;
  if (request == InfoRequest::kHelp) {
    text = texts::kHelp;
  } else {
    text = "dwarfsift " DWARFSIFT_VERSION "\n";
  }
  if (console_capture != nullptr) {
    *console_capture += text;
  } else {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
  return kStatusDone;
}

// Reads the input and refuses what cannot be converted: a file that cannot
// be read, is empty or never ends, one that is no ELF file, and one of
// another class than 32-bit. The status when refused, none otherwise.
std::optional<int> LoadInput(RunContext& run, LoadedInput& input) {
  MessageChannel& channel = run.channel;
  input = LoadInputFile(run.options);
  if (input.image.empty()) {
    const std::string_view why = !input.too_large  ? texts::kMissingFileSuffix
                                 : input.not_regular ? texts::kInputEndlessSuffix
                                                     : texts::kInputTooLargeSuffix;
    channel.EmitNamedMessage(run.options.input_name, why);
    return kStatusNoInput;
  }
  run.state.input_kind = input.input_kind;
  // However the input is made, its trace stays within reach of a disk.
  channel.LimitTrace(64 * std::uint64_t{input.image.size()} + (std::uint64_t{64} << 20));
  const std::string_view image_text(reinterpret_cast<const char*>(input.image.data()),
                                    input.image.size());
  if (!StartsWith(image_text, "\x7F" "ELF")) {
    channel.EmitMessage(texts::kNotElf);
    return kStatusNotElf;
  }
  if (input.image.size() > kElfClassByte && input.image[kElfClassByte] != kElfClass32) {
    const std::uint8_t elf_class = input.image[kElfClassByte];
    channel.EmitFormatted(texts::kElfClassRefused,
                          elf_class == kElfClass64 ? "64-bit" : "unknown", elf_class);
    return kStatusNotElf;
  }
  return std::nullopt;
}

// What the run's counters and state say, in the order of precedence: a lost
// output, no symbol, a damaged input, no line.
int FinalStatus(const RunContext& run) {
  if (run.state.output_lost) return kStatusOutputLost;
  if (run.counters.symbol_count == 0) return kStatusNoSymbol;
  if (run.state.input_damaged) return kStatusInputDamaged;
  if (run.counters.line_count == 0) return kStatusNoLine;
  return kStatusDone;
}

// The echo line the whole command line would make, for the message saying
// how far it passes the limit.
std::size_t FullEchoLength(int argc, const char* const* argv) {
  std::size_t length = std::strlen("/usage: ");
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != nullptr) length += (i > 0 ? 1 : 0) + std::strlen(argv[i]);
  }
  return length;
}

// Removes a listing an earlier run kept under the name (with -d); anything
// else of that name (a directory, a device) is not ours to remove.
void RemoveOldListing(const std::string& name) {
  std::error_code ignored;
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(name, ignored))) {
    std::remove(name.c_str());
  }
}

// The run once the command line is shown: the input, the conversion, the
// clean-up and the closing line. `loaded` is set once the input is read.
int ConvertInput(RunContext& run, const OutputFileSet& outputs, bool& loaded) {
  MessageChannel& channel = run.channel;
  // Writing an output over the input would destroy what is being read.
  if (const auto clash = OutputNamingInput(outputs, run.options.input_name)) {
    channel.EmitFormatted(texts::kOutputIsInput, clash->c_str(),
                          run.options.input_name.c_str());
    return kStatusNoInput;
  }
  LoadedInput input;
  if (const std::optional<int> refused = LoadInput(run, input)) return *refused;
  loaded = true;

  // The member area is optional: without it the member phase is skipped.
  SymbolMemberArea members;
  members.Create();
  // The state outlives the driver: the LIN header names the DWARF version
  // of the last unit read.
  ConversionState state;
  // The listing is the run's own until the end: simultaneous runs on one
  // input each read back what they wrote. With -d it is kept under its name.
  OutputFile lxx;
  const bool listed = channel.CreateOutput(lxx, outputs.lxx);
  if (listed) RunConversion(outputs, input.image, run, members, state, lxx);
  members.Release();

  // A cut listing would give a LIN file that silently lacks rows.
  if (listed && lxx.Finish()) FinishLineFile(outputs.lin, lxx.written_path(), run, state.dwarf.version);
  if (run.state.debug_trace) {
    channel.CommitOutput(lxx, outputs.lxx);
  } else {
    lxx.Discard();
    RemoveOldListing(outputs.lxx);
  }

  if (run.state.input_damaged) channel.EmitMessage(texts::kInputDamaged);
  channel.EmitFormatted(texts::kCompleteFormat,
                        static_cast<unsigned long>(run.counters.symbol_count),
                        static_cast<unsigned long>(run.counters.line_count));
  if (run.counters.symbol_count == 0) channel.RemoveCommittedOutput(outputs.sym);
  if (run.counters.line_count == 0) channel.RemoveCommittedOutput(outputs.lin);
  return FinalStatus(run);
}

// A run cut short: its files were dropped on the way out; says why.
int EndEarly(RunContext& run, std::string_view why, int status) {
  platform::TakeStopRequest();  // a request now changes nothing
  run.channel.EmitMessage(why);
  return status;
}

}  // namespace

int RunEntry(int argc, const char* const* argv, std::string* console_capture) {
  if (const InfoRequest request = FindInfoRequest(argc, argv); request != InfoRequest::kNone) {
    return ShowInfo(request, console_capture);
  }
  RunOptions parsed;
  std::string echo_line;
  const bool whole_line = ParseCommandLine(argc, argv, parsed, echo_line);
  const char* cache = std::getenv("DWARFSIFT_FOLLOW_CACHE");
  parsed.follow_cache = cache == nullptr || std::strcmp(cache, "off") != 0;
  // Completing the names is the last change to the options; without an input
  // name there is nothing to complete (the usage text follows).
  OutputFileSet outputs;
  if (!parsed.input_name.empty()) outputs = DeriveOutputFileSet(parsed);

  RunContext run(parsed);
  MessageChannel& channel = run.channel;
  channel.CaptureConsole(console_capture);
  channel.ShowUtf8OnConsole(console_capture == nullptr && platform::ConsoleShowsUtf8());
  int status = kStatusNoInput;
  bool loaded = false;
  // A stop request or a failed allocation anywhere in the run unwinds to
  // here; every file not yet complete is dropped on the way.
  try {
    if (!whole_line) {
      channel.EmitMessage(texts::kTooLong);
      channel.EmitFormatted(texts::kTooLongLimit,
                            static_cast<unsigned long>(FullEchoLength(argc, argv)));
    }
    if (run.state.host_mailbox) run.state.host_mailbox = channel.OpenHostMailbox();
    run.echo_line = std::move(echo_line) + '\n';
    channel.EmitMessage(run.echo_line);
    channel.EmitMessage(texts::kBanner);
    if (run.options.input_name.empty()) {
      channel.EmitMessage(texts::kUsage);
    } else {
      status = ConvertInput(run, outputs, loaded);
    }
  } catch (const RunStopRequested&) {
    status = EndEarly(run, texts::kStopped, kStatusOutputLost);
  } catch (const std::bad_alloc&) {
    status = EndEarly(run, texts::kOutOfMemory, loaded ? kStatusOutputLost : kStatusNoInput);
  }
  channel.CloseHostMailbox();
  return status;
}

}  // namespace dwarfsift
