// Where the tool's texts go.
//
// Messages go to standard output, or to the host debugger's mailbox while it
// is open. A run asked to stop unwinds from its next message (see
// output_file.h). Trace texts (only with "-d") go into the output file that the
// running phase produces and, unless "-p", to the channel too. Record lines
// always go to their file, and to the channel while tracing.
//
// The run counters behind the closing line live beside the channel.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/host_mailbox.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"

#if defined(__GNUC__)
#define DWARFSIFT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define DWARFSIFT_PRINTF(fmt, args)
#endif

namespace dwarfsift {

// Formatted trace and record texts are cut to this many bytes.
inline constexpr std::size_t kFormattedTextLimit = 1023;

// A message text formatted on its own (a reason to put into another
// message, say), cut to kFormattedTextLimit bytes as sent texts are.
std::string FormatString(const char* format, ...) DWARFSIFT_PRINTF(1, 2);

class MessageChannel {
 public:
  MessageChannel(const RunOptions& options, RunState& state)
      : options_(options), state_(state) {}

  // Sends one finished text.
  void EmitMessage(std::string_view text);
  // Sends a name (passed through as it is) followed by a system text.
  void EmitNamedMessage(std::string_view name, std::string_view text);
  // Formats a message (cut to kFormattedTextLimit bytes) and sends it.
  void EmitFormatted(const char* format, ...) DWARFSIFT_PRINTF(2, 3);
  // A formatted report naming what of the input was left out for damage;
  // the run's input counts as damaged.
  void ReportDamage(const char* format, ...) DWARFSIFT_PRINTF(2, 3);

  // Opens the host's mailbox; messages go there from now on. Returns whether
  // it could be opened.
  bool OpenHostMailbox();
  void CloseHostMailbox();
  bool mailbox_open() const { return mailbox_.is_open(); }

  bool tracing() const { return state_.debug_trace; }

  // Caps the run's trace at `bytes`: the text that would pass it is
  // replaced by one line of ours saying the trace was cut, and nothing
  // more is traced (record lines still go to their files).
  void LimitTrace(std::uint64_t bytes) { trace_limit_ = bytes; }
  bool trace_cut() const { return trace_cut_; }
  // Whether trace text still goes anywhere: tracing, and not yet cut.
  bool writes_trace() const { return state_.debug_trace && !trace_cut_; }

  // Trace output: nothing at all (not even formatting) unless "-d".
  void TraceLine(OutputFile* file, const char* format, ...)
      DWARFSIFT_PRINTF(3, 4);
  void TraceText(OutputFile* file, std::string_view text);

  // A record line: always written to `file`, also sent to the channel while
  // tracing, whatever "-p" says.
  void WriteRecordLine(OutputFile* file, const char* format, ...)
      DWARFSIFT_PRINTF(3, 4);

  // Creates `file` under `name`; when it cannot be created the user is
  // told why and the run's outputs count as lost.
  bool CreateOutput(OutputFile& file, const std::string& name);
  // Commits `file` to its name; when it could not be written completely the
  // user is told why (the name keeps what it had) and the run's outputs
  // count as lost. A file never created passes.
  bool CommitOutput(OutputFile& file, const std::string& name);
  // Like CommitOutput, but the file keeps its temporary place.
  bool FinishOutput(OutputFile& file, const std::string& name);
  // Removes the file `name` if this run committed it (an output that turned
  // out empty); whatever else has the name, the user's or an old run's, is
  // left alone.
  void RemoveCommittedOutput(const std::string& name);

  // Tests collect console output here instead of standard output.
  void CaptureConsole(std::string* sink) { console_capture_ = sink; }
  // The console shows UTF-8: the Japanese texts go there in that form.
  void ShowUtf8OnConsole(bool on) { utf8_console_ = on; }

 private:
  void EmitFormattedList(const char* format, va_list args);
  void WriteConsole(std::string_view text);
  // `text` as the console shows it.
  std::string_view ConsoleForm(std::string_view text) const;

  const RunOptions& options_;
  RunState& state_;
  HostMailbox mailbox_;
  std::string* console_capture_ = nullptr;
  bool utf8_console_ = false;
  // Standard output failed (a closed pipe, say): later console lines are
  // dropped, the run goes on.
  bool console_broken_ = false;
  std::vector<std::string> committed_;  // the names CommitOutput gave files
  std::uint64_t trace_limit_ = UINT64_MAX;
  std::uint64_t traced_ = 0;
  bool trace_cut_ = false;

  // Counts `text` against the trace limit; false once it is spent (the
  // first time, the closing line goes to `file` and the channel).
  bool TraceRoom(OutputFile* file, std::size_t size);
};

// `text` with every Japanese character of the tool's own texts turned into
// UTF-8, for a console that shows UTF-8; unchanged when it holds a
// double-byte character that none of those texts has (a file name, say).
std::string Utf8FromToolCp932(std::string_view text);

// The counts of the closing line; they only grow.
struct RunCounters {
  std::uint32_t symbol_count = 0;
  std::uint32_t line_count = 0;

  void CountSymbol() { ++symbol_count; }
  void CountLine() { ++line_count; }
};

}  // namespace dwarfsift
