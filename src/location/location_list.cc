#include "location/location_list.h"

#include <algorithm>
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
                                          const RunOptions& options, std::uint32_t input_kind,
                                          const UnitBases* unit) {
  LocationListSource source;
  if (elf.debug_loc.present()) source.loc = elf.Cursor(elf.debug_loc);
  if (elf.debug_loclists.present()) source.loclists = elf.Cursor(elf.debug_loclists);
  if (elf.debug_addr.present()) source.addresses = elf.Cursor(elf.debug_addr);
  if (unit != nullptr) source.addr_base = unit->addr_base;
  source.typed_entries = dwarf.version >= 5;
  source.section = source.typed_entries ? source.loclists : source.loc;
  source.target = LocationTarget{dwarf.address_size, elf.header.e_machine, unit};
  source.length_width = LocationLengthWidth(input_kind,
                                            elf.header.e_machine, dwarf.version);
  source.no_locals = options.no_locals;
  return source;
}

namespace {

// The decoding of one list: its rows, and the trace of its entries.
class ListReader {
 public:
  ListReader(MessageChannel& channel, OutputFile* file, const LocationListSource& source,
             LocationRows& rows)
      : channel_(channel), file_(file), source_(source), rows_(rows),
        tracing_(channel.tracing()) {
    if (tracing_) text_.reserve(kLocationTextLimit + 1);
  }

  // The operations of one entry over [begin, end): traced, and stored as
  // rows until the table is full.
  void Entry(std::uint32_t entry_position, std::uint32_t begin, std::uint32_t end,
             ByteCursor expression) {
    const ByteCursor& section = source_.section;
    int ordinal = 0;
    bool first = true;
    while (!expression.AtEnd()) {
      LocationResult result;
      const std::uint8_t code = expression.PeekByte();
      if (tracing_) {
        text_.clear();
        DecodeLocationOp(expression, source_.target, result, &text_);
        text_ += '\n';
        if (first) {
          channel_.TraceLine(file_, "/[0x%04X] beginning[0x%08X] ending[0x%08X] %s",
                             entry_position - section.begin(), begin, end, text_.c_str());
        } else {
          channel_.TraceLine(file_, "/[------] beginning[----------] ending[----------] %s",
                             text_.c_str());
        }
      } else {
        DecodeLocationOp(expression, source_.target, result, nullptr);
      }
      first = false;
      if (count_ >= kLocationRows || code == kOpDeref) continue;
      if (code == kOpPlusUconst) {
        // The offset is folded into the register-plus-offset row before it.
        if (count_ > 0) rows_[count_ - 1][kFlocOperand1] += result.opcode;
        continue;
      }
      std::int32_t* row = rows_[count_];
      row[kFlocOrdinal] = ordinal;
      row[kFlocBegin] = static_cast<std::int32_t>(begin);
      row[kFlocEnd] = static_cast<std::int32_t>(end);
      row[kFlocOpcode] = result.opcode;
      row[kFlocOperand1] = result.operand1;
      row[kFlocOperand2] = result.operand2;
      ++ordinal;
      ++count_;
    }
  }

 private:
  MessageChannel& channel_;
  OutputFile* file_;
  const LocationListSource& source_;
  LocationRows& rows_;
  const bool tracing_;
  std::string text_;
  int count_ = 0;
};

// The DWARF 5 list entry kinds.
enum : std::uint8_t {
  kLleEndOfList = 0x00,
  kLleBaseAddressx = 0x01,
  kLleStartxEndx = 0x02,
  kLleStartxLength = 0x03,
  kLleOffsetPair = 0x04,
  kLleDefaultLocation = 0x05,
  kLleBaseAddress = 0x06,
  kLleStartEnd = 0x07,
  kLleStartLength = 0x08,
  kLleGnuViewPair = 0x09,  // GCC's location views: two numbers, no range
};

// A DWARF 5 list: typed entries, addresses direct or through .debug_addr,
// ULEB128 expression lengths. The rows are those the same list gives in
// .debug_loc form: every range as absolute begin and end.
std::uint32_t ReadTypedList(ListReader& reader, const LocationListSource& source,
                            std::uint32_t base, std::uint32_t position) {
  const ByteCursor& section = source.section;
  const std::uint32_t section_size = section.end() - section.begin();
  const int address_size = source.target.address_size;
  UnitBases unit;
  unit.addresses = source.addresses;
  unit.addr_base = source.addr_base;
  // An index outside .debug_addr (or a unit without a base) reads as 0.
  const auto indexed = [&](ByteCursor& c) {
    std::uint32_t address = 0;
    unit.Address(ReadUleb128(c), static_cast<std::uint8_t>(address_size), address);
    return address;
  };
  ByteCursor cursor = section.At(position);
  while (true) {
    const std::uint32_t entry_position = cursor.position();
    const std::uint8_t kind = cursor.ReadByte();
    if (!cursor.ok()) return section.end();
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    bool counted = true;  // a range the implausibility test applies to
    switch (kind) {
      case kLleEndOfList:
        return cursor.position();
      case kLleBaseAddressx:
        base = indexed(cursor);
        continue;
      case kLleBaseAddress:
        base = static_cast<std::uint32_t>(ReadFixed(cursor, address_size));
        continue;
      case kLleGnuViewPair:
        ReadUleb128(cursor);
        ReadUleb128(cursor);
        if (!cursor.ok()) return section.end();
        continue;
      case kLleStartxEndx:
        begin = indexed(cursor);
        end = indexed(cursor);
        break;
      case kLleStartxLength:
        begin = indexed(cursor);
        end = begin + ReadUleb128(cursor);
        break;
      case kLleOffsetPair:
        begin = base + ReadUleb128(cursor);
        end = base + ReadUleb128(cursor);
        break;
      case kLleDefaultLocation:
        counted = false;  // no range: where no other entry applies
        break;
      case kLleStartEnd:
        begin = static_cast<std::uint32_t>(ReadFixed(cursor, address_size));
        end = static_cast<std::uint32_t>(ReadFixed(cursor, address_size));
        break;
      case kLleStartLength:
        begin = static_cast<std::uint32_t>(ReadFixed(cursor, address_size));
        end = begin + ReadUleb128(cursor);
        break;
      default:
        // An unknown kind has no known size: the list ends here.
        return section.end();
    }
    const std::uint32_t length = ReadUleb128(cursor);
    if (!cursor.ok()) return section.end();
    if (counted && end - begin > section_size) {
      return SaturatedPosition(std::uint64_t{cursor.position()} + section_size);
    }
    if (length > cursor.remaining()) return section.end();
    const ByteCursor expression =
        cursor.View(cursor.position(), std::uint64_t{cursor.position()} + length);
    cursor.Skip(length);
    reader.Entry(entry_position, begin, end, expression);
  }
}

}  // namespace

std::uint32_t ReadLocationList(MessageChannel& channel, OutputFile* file,
                               const LocationListSource& source, std::uint32_t base,
                               LocationRows& rows, std::uint32_t position) {
  ListReader reader(channel, file, source, rows);
  if (source.typed_entries) return ReadTypedList(reader, source, base, position);
  const ByteCursor& section = source.section;
  const std::uint32_t section_size = section.end() - section.begin();
  const int address_size = source.target.address_size;
  ByteCursor cursor = section.At(position);

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

    const ByteCursor expression =
        cursor.View(cursor.position(), std::uint64_t{cursor.position()} + length);
    cursor.Skip(length);
    reader.Entry(entry_position, begin, end, expression);
  }
}

namespace {

// Traces the lists from `position` to `end`, numbering them from `list`;
// returns the next number.
int TraceLists(MessageChannel& channel, OutputFile* file, const LocationListSource& source,
               const char* section_name, std::uint32_t position, std::uint32_t end, int list) {
  LocationRows scratch;
  LocationListSource bounded = source;
  bounded.section = source.section.View(source.section.begin(), end);
  while (position < end) {
    channel.TraceLine(file, "/%s Section[%d]\n", section_name, list++);
    std::memset(&scratch, 0, sizeof scratch);
    const std::uint32_t next = ReadLocationList(channel, file, bounded, 0, scratch, position);
    // Every list takes at least its terminating entry; a reader that made
    // no progress would spin here.
    if (next <= position) break;
    position = next;
  }
  return list;
}

// .debug_loclists is a run of tables, one per unit: a header (length,
// version, address size, segment selector size, offset count), the offset
// array, then the lists.
void TraceTypedLists(MessageChannel& channel, OutputFile* file,
                     const LocationListSource& source) {
  const ByteCursor& section = source.section;
  std::uint32_t position = section.begin();
  int list = 0;
  while (position < section.end()) {
    ByteCursor header = section.At(position);
    const std::uint32_t length = ReadFixed32(header);
    const std::uint16_t version = ReadFixed16(header);
    header.Skip(2);  // address size, segment selector size
    const std::uint32_t offsets = ReadFixed32(header);
    if (!header.ok() || length == 0xFFFFFFFFu) break;
    const std::uint64_t table_end = std::min<std::uint64_t>(
        std::uint64_t{position} + 4 + length, section.end());
    channel.TraceLine(file, "/.debug_loclists Table[0x%04X] version[%d] offsets[%d]\n",
                      position - section.begin(), version, static_cast<int>(offsets));
    const std::uint64_t first = std::uint64_t{header.position()} + std::uint64_t{offsets} * 4;
    if (first < table_end) {
      list = TraceLists(channel, file, source, ".debug_loclists",
                        static_cast<std::uint32_t>(first),
                        static_cast<std::uint32_t>(table_end), list);
    }
    position = static_cast<std::uint32_t>(table_end);
  }
}

}  // namespace

std::uint32_t GetDebugLocAll(MessageChannel& channel, OutputFile* file,
                             const LocationListSource& source) {
  // A source made for a unit before DWARF 5 reads .debug_loc as its section.
  const ByteCursor& loc = source.typed_entries ? source.loc : source.section;
  // The walk only feeds the trace; its rows are thrown away.
  if (source.no_locals || !channel.tracing()) return loc.begin() == loc.end() ? 0 : loc.end();
  if (loc.begin() != loc.end()) {
    LocationListSource plain = source;
    plain.section = loc;
    plain.typed_entries = false;
    TraceLists(channel, file, plain, ".debug_loc", loc.begin(), loc.end(), 0);
  }
  if (source.loclists.begin() != source.loclists.end()) {
    LocationListSource typed = source;
    typed.section = source.loclists;
    typed.typed_entries = true;
    TraceTypedLists(channel, file, typed);
  }
  return loc.begin() == loc.end() ? 0 : loc.end();
}

}  // namespace dwarfsift
