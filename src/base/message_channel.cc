#include "base/message_channel.h"

#include <cstdarg>
#include <cstdio>

#include "base/messages.h"

namespace dwarfsift {
namespace {

// Formats into `buffer` (kFormattedTextLimit + 1 bytes) and returns the text,
// cut at the limit. A cut line keeps its line end: otherwise the next line
// written to the file would run on behind it, and a record line after an
// over-long trace line would no longer start a line of its own. The callers'
// formats are checked where they are written.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 0)))
#endif
std::string_view FormatText(char* buffer, const char* format, va_list args) {
  const int n = std::vsnprintf(buffer, kFormattedTextLimit + 1, format, args);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) <= kFormattedTextLimit) {
    return {buffer, static_cast<std::size_t>(n)};
  }
  const std::string_view written(format);
  if (written.ends_with('\n')) buffer[kFormattedTextLimit - 1] = '\n';
  return {buffer, kFormattedTextLimit};
}

}  // namespace

void MessageChannel::EmitMessage(std::string_view text) {
  if (mailbox_.is_open()) {
    if (mailbox_.Send(text)) return;
    // The host stopped answering: this message is lost, the rest go to the
    // console.
    state_.host_mailbox = false;
    return;
  }
  WriteConsole(text);
}

void MessageChannel::EmitFormatted(const char* format, ...) {
  char buffer[kFormattedTextLimit + 1];
  va_list args;
  va_start(args, format);
  const std::string_view text = FormatText(buffer, format, args);
  va_end(args);
  EmitMessage(text);
}

void MessageChannel::WriteConsole(std::string_view text) {
  if (console_capture_ != nullptr) {
    console_capture_->append(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
}

bool MessageChannel::CreateOutput(OutputFile& file, const std::string& name) {
  if (file.Create(name)) return true;
  EmitFormatted(texts::kCannotCreate, name.c_str(), file.error().c_str());
  state_.output_lost = true;
  return false;
}

bool MessageChannel::CommitOutput(OutputFile& file, const std::string& name) {
  if (file.Commit()) return true;
  EmitFormatted(texts::kWriteFailed, name.c_str(), file.error().c_str());
  state_.output_lost = true;
  return false;
}

bool MessageChannel::FinishOutput(OutputFile& file, const std::string& name) {
  if (file.Finish()) return true;
  EmitFormatted(texts::kWriteFailed, name.c_str(), file.error().c_str());
  state_.output_lost = true;
  return false;
}

bool MessageChannel::OpenHostMailbox() { return mailbox_.Open(); }

void MessageChannel::CloseHostMailbox() { mailbox_.Close(); }

bool MessageChannel::TraceRoom(OutputFile* file, std::size_t size) {
  if (trace_cut_) return false;
  if (size <= trace_limit_ - traced_) {
    traced_ += size;
    return true;
  }
  trace_cut_ = true;
  char buffer[kFormattedTextLimit + 1];
  std::snprintf(buffer, sizeof buffer, texts::kTraceCut,
                static_cast<unsigned long long>(trace_limit_));
  if (file != nullptr) file->Write(buffer);
  EmitMessage(buffer);
  return false;
}

void MessageChannel::TraceLine(OutputFile* file, const char* format, ...) {
  if (!state_.debug_trace || trace_cut_) return;
  char buffer[kFormattedTextLimit + 1];
  va_list args;
  va_start(args, format);
  const std::string_view text = FormatText(buffer, format, args);
  va_end(args);
  TraceText(file, text);
}

void MessageChannel::TraceText(OutputFile* file, std::string_view text) {
  if (!state_.debug_trace || !TraceRoom(file, text.size())) return;
  if (file != nullptr) file->Write(text);
  if (options_.echo_trace) EmitMessage(text);
}

void MessageChannel::WriteRecordLine(OutputFile* file, const char* format,
                                     ...) {
  char buffer[kFormattedTextLimit + 1];
  va_list args;
  va_start(args, format);
  const std::string_view text = FormatText(buffer, format, args);
  va_end(args);
  if (file != nullptr) file->Write(text);
  if (state_.debug_trace && TraceRoom(nullptr, text.size())) EmitMessage(text);
}

}  // namespace dwarfsift
