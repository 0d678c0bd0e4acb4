#include "base/message_channel.h"

#include <algorithm>
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

std::string FormatString(const char* format, ...) {
  char buffer[kFormattedTextLimit + 1];
  va_list args;
  va_start(args, format);
  const std::string_view text = FormatText(buffer, format, args);
  va_end(args);
  return std::string(text);
}

void MessageChannel::EmitMessage(std::string_view text) {
  StopIfRequested();
  if (mailbox_.is_open()) {
    if (mailbox_.Send(text)) return;
    // The host stopped answering: this message is lost, the rest go to the
    // console.
    state_.host_mailbox = false;
    return;
  }
  WriteConsole(ConsoleForm(text));
}

void MessageChannel::EmitNamedMessage(std::string_view name, std::string_view text) {
  if (mailbox_.is_open()) {
    EmitMessage(std::string(name) + std::string(text));
    return;
  }
  WriteConsole(name);
  WriteConsole(ConsoleForm(text));
}

std::string_view MessageChannel::ConsoleForm(std::string_view text) const {
  if (!utf8_console_) return text;
  for (const texts::TextForms& forms : texts::kJapaneseTexts) {
    if (forms.cp932 == text) return forms.utf8;
  }
  return text;
}

void MessageChannel::EmitFormatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  EmitFormattedList(format, args);
  va_end(args);
}

void MessageChannel::ReportDamage(const char* format, ...) {
  state_.input_damaged = true;
  va_list args;
  va_start(args, format);
  EmitFormattedList(format, args);
  va_end(args);
}

void MessageChannel::EmitFormattedList(const char* format, va_list args) {
  char buffer[kFormattedTextLimit + 1];
  EmitMessage(FormatText(buffer, format, args));
}

void MessageChannel::WriteConsole(std::string_view text) {
  if (console_capture_ != nullptr) {
    console_capture_->append(text);
    return;
  }
  if (console_broken_) return;
  std::fwrite(text.data(), 1, text.size(), stdout);
  console_broken_ = std::ferror(stdout) != 0;
}

bool MessageChannel::CreateOutput(OutputFile& file, const std::string& name) {
  if (file.Create(name)) return true;
  EmitFormatted(texts::kCannotCreate, name.c_str(), file.error().c_str());
  state_.output_lost = true;
  return false;
}

bool MessageChannel::CommitOutput(OutputFile& file, const std::string& name) {
  // Only a file this run created; a device or pipe written directly is not.
  const bool created = file.is_open() && file.written_path() != name;
  if (file.Commit()) {
    if (created) committed_.push_back(name);
    return true;
  }
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

void MessageChannel::RemoveCommittedOutput(const std::string& name) {
  if (std::find(committed_.begin(), committed_.end(), name) != committed_.end()) {
    std::remove(name.c_str());
  }
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

namespace {

bool IsCp932Lead(std::uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::size_t Utf8Length(std::uint8_t lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// The UTF-8 form of `cp932_char` as the texts pair them, or empty.
std::string_view Utf8Char(std::string_view cp932_char) {
  for (const texts::TextForms& forms : texts::kJapaneseTexts) {
    std::size_t a = 0;
    std::size_t b = 0;
    while (a < forms.cp932.size() && b < forms.utf8.size()) {
      const auto lead = static_cast<std::uint8_t>(forms.cp932[a]);
      const std::size_t a_len = IsCp932Lead(lead) ? 2 : 1;
      const std::size_t b_len = Utf8Length(static_cast<std::uint8_t>(forms.utf8[b]));
      if (forms.cp932.substr(a, a_len) == cp932_char) return forms.utf8.substr(b, b_len);
      a += a_len;
      b += b_len;
    }
  }
  return {};
}

}  // namespace

std::string Utf8FromToolCp932(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if (!IsCp932Lead(byte)) {
      out += text[i++];
      continue;
    }
    // A slot cuts long texts, possibly inside their last character.
    if (i + 1 == text.size()) break;
    const std::string_view utf8 = Utf8Char(text.substr(i, 2));
    if (utf8.empty()) return std::string(text);
    out += utf8;
    i += 2;
  }
  return out;
}

}  // namespace dwarfsift
