#include "location/location_list.h"

#include <cstring>
#include <string>

#include "base/input_kind.h"
#include "base/message_channel.h"
#include "base/run_options.h"
#include "elf/elf_image.h"

namespace dwarfsift {

namespace {

std::uint32_t SaturatedPosition(std::uint64_t position) {
  return position > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(position);
}

}  // namespace

int LocationLengthWidth(std::uint32_t input_kind, std::uint32_t machine,
                        std::uint32_t version) {
  if (input_kind == kInputKindAbs) return machine == kMachineRx || version == 3 ? 2 : 1;
  if (input_kind == kInputKindOut) return machine == kMachineRx ? 2 : 1;
  return 2;
}

LocationListSource MakeLocationListSource(const ElfImage& elf, const DwarfParameters& dwarf,
                                          const RunOptions& options, std::uint32_t input_kind) {
  LocationListSource source;
  if (elf.debug_loc.present()) source.section = elf.Cursor(elf.debug_loc);
  source.target = LocationTarget{dwarf.address_size, elf.header.e_machine};
  source.length_width = LocationLengthWidth(input_kind,
                                            elf.header.e_machine, dwarf.version);
  source.no_locals = options.no_locals;
  return source;
}

std::uint32_t ReadLocationList(MessageChannel& channel, OutputFile* file,
                               const LocationListSource& source, std::uint32_t base,
                               LocationRows& rows, std::uint32_t position) {
  const ByteCursor& section = source.section;
  const std::uint32_t section_size = section.end() - section.begin();
  const int address_size = source.target.address_size;
  ByteCursor cursor = section.At(position);
  const bool tracing = channel.tracing();
  std::string text;
  if (tracing) text.reserve(kLocationTextLimit + 1);
  int count = 0;

  while (true) {
    const std::uint32_t entry_position = cursor.position();
    std::uint32_t begin = static_cast<std::uint32_t>(ReadFixed(cursor, address_size));
    std::uint32_t end = static_cast<std::uint32_t>(ReadFixed(cursor, address_size));
    // A list without its terminating pair ends with the section.
    if (!cursor.ok()) return section.end();
    if (begin == 0 && end == 0) return cursor.position();
    begin += base;
    end += base;
    const std::uint32_t length =
        static_cast<std::uint32_t>(ReadFixed(cursor, source.length_width));
    if (end - begin > section_size) {
      return SaturatedPosition(std::uint64_t{cursor.position()} + section_size);
    }
    if (!cursor.ok() || length > cursor.remaining()) return section.end();

    ByteCursor expression = cursor.View(cursor.position(), std::uint64_t{cursor.position()} + length);
    cursor.Skip(length);
    int ordinal = 0;
    bool first = true;
    while (!expression.AtEnd()) {
      LocationResult result;
      const std::uint8_t code = expression.PeekByte();
      if (tracing) {
        text.clear();
        DecodeLocationOp(expression, source.target, result, &text);
        text += '\n';
        if (first) {
          channel.TraceLine(file, "/[0x%04X] beginning[0x%08X] ending[0x%08X] %s",
                            entry_position - section.begin(), begin, end, text.c_str());
        } else {
          channel.TraceLine(file, "/[------] beginning[----------] ending[----------] %s",
                            text.c_str());
        }
      } else {
        DecodeLocationOp(expression, source.target, result, nullptr);
      }
      first = false;
      if (count >= kLocationRows || code == kOpDeref) continue;
      if (code == kOpPlusUconst) {
        // The offset is folded into the register-plus-offset row before it.
        if (count > 0) rows[count - 1][kFlocOperand1] += result.opcode;
        continue;
      }
      std::int32_t* row = rows[count];
      row[kFlocOrdinal] = ordinal;
      row[kFlocBegin] = static_cast<std::int32_t>(begin);
      row[kFlocEnd] = static_cast<std::int32_t>(end);
      row[kFlocOpcode] = result.opcode;
      row[kFlocOperand1] = result.operand1;
      row[kFlocOperand2] = result.operand2;
      ++ordinal;
      ++count;
    }
  }
}

std::uint32_t GetDebugLocAll(MessageChannel& channel, OutputFile* file,
                             const LocationListSource& source) {
  const ByteCursor& section = source.section;
  if (section.begin() == section.end()) return 0;
  // The walk only feeds the trace; its rows are thrown away.
  if (!source.no_locals && channel.tracing()) {
    LocationRows scratch;
    std::uint32_t position = section.begin();
    for (int list = 0; position < section.end(); ++list) {
      channel.TraceLine(file, "/.debug_loc Section[%d]\n", list);
      std::memset(&scratch, 0, sizeof scratch);
      const std::uint32_t next = ReadLocationList(channel, file, source, 0, scratch, position);
      // Every list takes at least its terminating pair; a reader that made
      // no progress would spin here.
      if (next <= position) break;
      position = next;
    }
  }
  return section.end();
}

}  // namespace dwarfsift
