#include "base/file_headers.h"

#include <cstdio>

#include "base/messages.h"

namespace dwarfsift {

void WriteLineFileHeader(OutputFile& file, const RunContext& run) {
  file.Write(texts::kHeaderTool);
  file.Write(texts::kHeaderVersion);
  file.Write(run.echo_line);
  if (!run.options.inline_delete) file.Write(texts::kHeaderInlineDelOff);
  if (run.options.merge_duplicates) file.Write(texts::kHeaderViewMergeOn);
}

void WriteSymbolFileHeader(OutputFile& file, const RunContext& run) {
  file.Write(texts::kHeaderTool);
  file.Write(texts::kHeaderVersion);
  file.Write(run.echo_line);
  file.Write(texts::kHeaderMemberAdd);
}

void WriteDwarfVersionLine(OutputFile& file, int version) {
  char text[48];
  std::snprintf(text, sizeof text, "/Dwarf-Version[%d]\n", version);
  file.Write(text);
}

}  // namespace dwarfsift
