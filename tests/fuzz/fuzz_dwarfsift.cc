// libFuzzer target over everything that reads the input image: the section
// phase (trace on, then trace off) and the primitive readers walked over every
// section it locates and over a view chosen by the input itself.
//
// One run costs a few times the tool's own conversion: what the tool does
// once is done once, and what only repeats a full walk is done on a sample
// (kSampleBytes, which holds any input the fuzzer makes up from the
// committed seeds), as marked below.
//
// Besides the sanitizers, the target checks what must hold for any input and
// traps when it does not:
// - a located section lies inside the image, is named exactly as wanted and
//   has a non-zero index; a rejected header locates nothing; a compressed
//   section inflated at load lies wholly past the copy of the file, under
//   its plain name;
// - the trace changes nothing: both runs locate the same sections, read the
//   same tables and take the same DWARF parameters, the symbol-table phase
//   stores as many symbols, and the conversion writes as many records
//   (sampled: over .debug_info's first bytes, following fewer references
//   per entry);
// - the follow cache changes no byte of the SYM and MEB files: the whole
//   conversion with it and with every type chain walked writes the same;
// - the SYM file gets one version line per located .debug_info long enough
//   for a unit header, in table order, and the last one located is kept;
// - every cursor read stays inside its view, an exhausted cursor sits at the
//   end of its view, and every walk bounded by AtEnd() ends (sampled: each
//   section's last bytes; the view the input chooses is walked whole);
// - the symbol-table phase stores at most one symbol per entry, and the
//   S-record file is made of well-formed records whatever the input;
// - every unit's abbreviations load and every attribute of every entry
//   decodes without leaving the unit, each entry moving the walk on, also
//   through the DWARF 5 string, address and list tables at the bases the
//   unit's top entry gives (or, for the second walk, at bases the input
//   chooses; sampled: the units that start in the first bytes), and each
//   DWARF 5 form comes back as a DWARF 4 one;
// - the location lists of .debug_loc and .debug_loclists, read from any
//   offset, stay inside their section and store at most their rows;
// - the line phase counts exactly the rows it writes, and the LIN file made
//   from its listing carries every one of them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/driver.h"
#include "base/message_channel.h"
#include "base/run_context.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "dwarf/byte_cursor.h"
#include "dwarf/readers.h"
#include "dwarf/value_text.h"
#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "elf/elf_image.h"
#include "elf/srecord_writer.h"
#include "elf/symbol_table.h"
#include "dwarf/unit_header.h"
#include "location/location_list.h"
#include "lines/line_file.h"
#include "lines/line_program.h"
#include "symbols/entry_processing.h"
#include "symbols/members.h"
#include "symbols/unit_walk.h"

namespace dwarfsift {
namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Every traced phase's trace is cut here. The tool cuts its own at 64 times
// the input size, which on a firmware image is a gigabyte of text, here held
// in memory twice (file and console); the fuzzer's small inputs stay below
// this cap, larger ones exercise the cut.
constexpr std::uint64_t kTraceLimit = 4 << 20;

// What a full repeat would cost on a firmware image is checked on a sample:
// the readers walk each section's last this many bytes, and the walks that
// repeat a full one (the conversion traced, the units read at the input's
// bases) take .debug_info's first this many bytes. Traced, a real unit's
// first 64 KB took 50 s where the whole image converts untraced in 7 s.
constexpr std::uint32_t kSampleBytes = 16 << 10;
// The traced walk has no per-unit work limit, so the references it follows
// for one entry are bounded by this instead of kFollowBudget in the sampled
// comparison: a 9 KB unit whose names all read empty took 108 s traced.
constexpr std::uint32_t kSampleFollowBudget = 1 << 10;


bool InsideImage(std::string_view text, std::span<const std::uint8_t> image) {
  if (text.empty()) return true;
  const auto* first = reinterpret_cast<const std::uint8_t*>(text.data());
  return first >= image.data() && first + text.size() <= image.data() + image.size();
}

void CheckCursor(const ByteCursor& cursor, std::uint32_t begin, std::uint32_t end) {
  Require(cursor.begin() == begin && cursor.end() == end);
  Require(cursor.position() >= begin && cursor.position() <= end);
  if (!cursor.ok()) Require(cursor.AtEnd());
}

// Walks `view` with each reader until AtEnd(); each read must make progress
// or exhaust the cursor.
void WalkView(const ByteCursor& view, std::span<const std::uint8_t> image) {
  const std::uint32_t begin = view.begin();
  const std::uint32_t end = view.end();
  Require(begin <= end && end <= image.size());
  const std::uint32_t length = end - begin;
  auto walk = [&](auto read) {
    ByteCursor cursor = view;
    std::uint32_t steps = 0;
    while (!cursor.AtEnd()) {
      const std::uint32_t before = cursor.position();
      read(cursor);
      CheckCursor(cursor, begin, end);
      Require(cursor.position() > before);
      Require(++steps <= length);
    }
  };
  walk([](ByteCursor& c) { ReadUleb128(c); });
  walk([](ByteCursor& c) { ReadSleb128(c); });
  walk([&](ByteCursor& c) { Require(InsideImage(c.ReadCString(), image)); });
  int width_index = 0;
  walk([&](ByteCursor& c) {
    static constexpr int kWidths[] = {1, 2, 4, 8};
    ReadFixed(c, kWidths[width_index++ % 4]);
  });
  {
    ByteCursor cursor = view;
    std::string text;
    FormatUnits(text, cursor, 5, 4);
    CheckCursor(cursor, begin, end);
    HexDigits(text, cursor, 7);
    CheckCursor(cursor, begin, end);
    Require(cursor.ok() == (length >= 27));
  }
}

struct PhaseResult {
  bool accepted = false;
  ElfImage elf;
  DwarfParameters dwarf;
  std::string console;
  std::string sym;
};

void RunPhase(std::span<const std::uint8_t> image, bool trace, PhaseResult& result) {
  RunOptions options;
  options.debug_trace = trace;
  RunState state(options);
  MessageChannel channel(options, state);
  channel.LimitTrace(kTraceLimit);
  channel.CaptureConsole(&result.console);
  OutputFile sym;
  sym.CreateInMemory();
  result.accepted = GetSection(image, result.elf, result.dwarf, channel, &sym);
  result.sym = sym.memory();
}

// How far a section may reach: the file, or for a section inflated at load
// (its plain bytes follow the file's) the whole buffer.
std::uint64_t SectionLimit(const ElfImage& elf, const SectionHeader& sh) {
  return sh.sh_offset >= elf.file_size ? elf.bytes.size() : elf.file_size;
}

void CheckPhase(const PhaseResult& run, std::span<const std::uint8_t> image) {
  const ElfImage& elf = run.elf;
  // The image itself, or a copy of it followed by inflated sections.
  Require(elf.file_size == image.size());
  if (elf.inflated == nullptr) {
    Require(elf.bytes.data() == image.data() && elf.bytes.size() == image.size());
  } else {
    Require(elf.bytes.size() >= image.size() &&
            std::equal(image.begin(), image.end(), elf.bytes.begin()));
  }
  Require(elf.byte_order == (image.size() > 5 && image[5] == 2 ? ByteOrder::kBig
                                                              : ByteOrder::kLittle));
  if (elf.header_read) Require(image.size() >= 52);
  Require(elf.section_names.size() == elf.section_headers.size());
  Require(elf.section_headers.size() <= kMaxElfTableEntries);
  Require(elf.program_headers.size() <= kMaxElfTableEntries);
  if (!elf.header_read) Require(elf.section_headers.empty() && elf.program_headers.empty());
  if (elf.header_read) {
    Require(elf.program_headers.empty() ||
            elf.program_headers.size() == elf.header.e_phnum);
    Require(elf.section_headers.empty() ||
            elf.section_headers.size() == elf.header.e_shnum);
  }
  for (std::size_t i = 0; i < elf.section_names.size(); ++i) {
    // An inflated section carries the plain name of its kind instead.
    const std::string_view name = elf.section_names[i];
    Require(InsideImage(name, image) ||
            (elf.section_headers[i].sh_offset >= image.size() && name.starts_with(".debug_")));
  }
  for (const LocatedSection& wanted : kLocatedSections) {
    const SectionView& view = elf.*wanted.view;
    if (!run.accepted) Require(!view.found());
    if (!view.found()) {
      // Nothing half-located.
      Require(view.offset == 0 && view.size == 0 && view.start == 0 && view.end == 0);
      continue;
    }
    Require(view.index < elf.section_names.size());
    Require(elf.section_names[view.index] == wanted.name);
    Require(view.start == view.offset);
    Require(static_cast<std::uint64_t>(view.offset) + view.size == view.end);
    const SectionHeader& header = elf.section_headers[view.index];
    Require(view.end <= SectionLimit(elf, header));
    Require(header.sh_offset == view.offset && header.sh_size == view.size);
  }
}

// Without the trace the SYM file gets the version lines alone: one for each
// section named exactly .debug_info (index 1 on, inside the file or
// inflated behind it) that
// holds a whole first unit header, in table order, each giving the version
// its own bytes hold. The last one sets the DWARF parameters; with none they
// keep their defaults. With the trace the same lines close the traced text.
void CheckVersionLines(const PhaseResult& quiet, const PhaseResult& traced) {
  const ElfImage& elf = quiet.elf;
  const bool big = elf.byte_order == ByteOrder::kBig;
  std::string lines;
  int version = 0;
  int address_size = 4;
  std::uint32_t last = 0;  // the last of them inside the image, whatever its size
  for (std::uint32_t i = 1; i < elf.section_headers.size(); ++i) {
    const SectionHeader& sh = elf.section_headers[i];
    if (elf.section_names[i] != ".debug_info" ||
        static_cast<std::uint64_t>(sh.sh_offset) + sh.sh_size > SectionLimit(elf, sh)) {
      continue;
    }
    last = i;
    if (sh.sh_size < 11) continue;
    const std::uint8_t* unit = elf.bytes.data() + sh.sh_offset;
    version = big ? unit[4] << 8 | unit[5] : unit[5] << 8 | unit[4];
    address_size = version >= 5 ? unit[7] : unit[10];
    lines += "/Dwarf-Version[" + std::to_string(version) + "]\r\n";
  }
  Require(quiet.sym == lines);
  Require(traced.sym.size() >= lines.size() &&
          traced.sym.compare(traced.sym.size() - lines.size(), lines.size(), lines) == 0);
  Require(quiet.dwarf.version == version && quiet.dwarf.address_size == address_size);
  // Later phases read the last one.
  Require(elf.debug_info.index == last);
}

void Compare(const PhaseResult& a, const PhaseResult& b) {
  Require(a.accepted == b.accepted);
  Require(a.elf.header_read == b.elf.header_read);
  Require(a.elf.section_headers.size() == b.elf.section_headers.size());
  Require(a.elf.program_headers.size() == b.elf.program_headers.size());
  Require(a.elf.section_names == b.elf.section_names);
  for (const LocatedSection& wanted : kLocatedSections) {
    const SectionView& x = a.elf.*wanted.view;
    const SectionView& y = b.elf.*wanted.view;
    Require(x.index == y.index && x.offset == y.offset && x.size == y.size &&
            x.start == y.start && x.end == y.end);
  }
  Require(a.dwarf.version == b.dwarf.version);
  Require(a.dwarf.address_size == b.dwarf.address_size);
  Require(a.dwarf.byte_order == b.dwarf.byte_order);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  __builtin_trap();
}

// Every line: "S", a type digit, an even number of upper-case hex digits
// whose first pair counts the rest, the last pair a checksum; CR LF.
void CheckSrecords(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    Require(end != std::string::npos);
    const std::string_view line(text.data() + at, end - at);
    Require(line.size() >= 4 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9');
    Require(line.size() % 2 == 0);
    unsigned sum = 0;
    for (std::size_t i = 2; i < line.size(); i += 2) {
      sum += HexValue(line[i]) * 16 + HexValue(line[i + 1]);
    }
    const unsigned count = HexValue(line[2]) * 16 + HexValue(line[3]);
    Require(count == (line.size() - 4) / 2);
    Require((sum & 0xFF) == 0xFF);
    at = end + 2;
  }
}

// A phase's channel with the trace on or off, its console captured, and an
// in-memory SYM file for its trace lines.
struct TracedPhase {
  explicit TracedPhase(bool trace) : options(TraceOptions(trace)), state(options) {
    channel.LimitTrace(kTraceLimit);
    channel.CaptureConsole(&console);
    sym.CreateInMemory();
  }
  static RunOptions TraceOptions(bool trace) {
    RunOptions o;
    o.debug_trace = trace;
    return o;
  }
  RunOptions options;
  RunState state;
  MessageChannel channel{options, state};
  std::string console;
  OutputFile sym;
};

// The symbol-table phase; returns how many symbols it stored.
std::size_t ReadElfSymbols(const ElfImage& elf, bool trace) {
  TracedPhase phase(trace);
  MessageChannel& channel = phase.channel;
  OutputFile& sym = phase.sym;
  ElfSymbolTable symbols;
  GetDebugSymTabAll(elf, symbols, channel, &sym);
  Require(symbols.size() <= elf.symtab.size / 16);
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    Require(symbols.name(i).size() <= ElfSymbolTable::kNameLimit);
  }
  if (symbols.size() > 0) {
    Require(symbols.FindElfSymbol("") == symbols.value(0));
    const std::string_view first = symbols.name(symbols.size() - 1);
    if (!first.empty()) Require(symbols.FindElfSymbol(first).has_value());
  }
  return symbols.size();
}

// The S-record file of the loadable sections (no trace of its own).
void WriteSrecords(const ElfImage& elf) {
  OutputFile mot;
  mot.CreateInMemory();
  WriteSrecordImage(mot, "fuzz.mot", elf);
  CheckSrecords(mot.memory());
}

// The unit headers of .debug_info, each unit's abbreviations and every
// attribute of every entry, as the unit walk reads them; with `sampled`, the
// units that start in the section's first kSampleBytes only.
void WalkUnits(const ElfImage& elf, const DwarfParameters& dwarf, bool trace,
               std::uint32_t chosen_base, bool sampled) {
  if (!elf.debug_info.found()) return;
  TracedPhase phase(trace);
  MessageChannel& channel = phase.channel;
  OutputFile& sym = phase.sym;
  FormContext context = MakeFormContext(elf.Cursor(elf.debug_str), dwarf);
  SetUnitSections(elf, context.unit);
  AbbrevTable table;
  std::optional<std::uint32_t> loaded_offset;
  AttributeValue value;
  const ByteCursor info = elf.Cursor(elf.debug_info);
  const std::uint64_t last_start =
      sampled ? std::min<std::uint64_t>(info.end(), info.begin() + std::uint64_t{kSampleBytes})
              : info.end();
  std::uint64_t unit_start = info.begin();
  while (unit_start + 11 <= info.end() && unit_start < last_start) {
    const UnitHeader header = ReadUnitHeader(info.At(static_cast<std::uint32_t>(unit_start)));
    const std::uint32_t length = header.length;
    const std::uint64_t unit_end = std::min<std::uint64_t>(unit_start + 4 + length, info.end());
    // Units that share a table (a crafted file of many tiny units, or a
    // zeroed section) load it once, as the tool traces it once.
    if (header.abbrev_offset != loaded_offset) {
      if (!LoadAbbrevTable(table, elf.Cursor(elf.debug_abbrev), header.abbrev_offset, channel,
                           &sym)) {
        break;
      }
      loaded_offset = header.abbrev_offset;
    }
    const std::uint64_t first = std::min<std::uint64_t>(unit_start + header.header_size, unit_end);
    ByteCursor unit = info.View(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(unit_end));
    ReadUnitBases(table, unit, context, value);
    if (trace) {
      // The traced walk reads the tables at bases of the input's choosing.
      UnitBases& bases = context.unit;
      bases.str_offsets_base = bases.addr_base = chosen_base;
      bases.loclists_base = bases.rnglists_base = chosen_base ^ 0x80000000u;
    }
    while (!unit.AtEnd()) {
      const std::uint32_t before = unit.position();
      const std::uint32_t code = ReadUleb128(unit);
      AbbrevDecl decl = FindAbbrev(table, code);
      AttributeSpec spec;
      while (decl.NextSpec(spec)) {
        std::uint32_t form = spec.form;
        const std::uint32_t after =
            ReadAttributeValue(form, unit, context, value, spec.implicit_const);
        Require(after == unit.position());
        CheckCursor(unit, unit.begin(), unit.end());
        Require(value.text().size() < AttributeValue::kTextCapacity);
        // The consumers see DWARF 4 forms only (the supplementary-file
        // forms stay, as the GNU alternate-file forms do: nothing reads them).
        Require(!IsDwarf5Form(form) || form == kFormRefSup4 || form == kFormStrpSup ||
                form == kFormRefSup8);
        if (unit.AtEnd()) break;
      }
      Require(unit.position() > before || unit.AtEnd());
    }
    if (unit_start + 4 + length <= unit_start) break;
    unit_start += 4 + static_cast<std::uint64_t>(length);
  }
}

// The list phase over both list sections, and one list of each read from an
// offset the input chooses, with and without the trace.
void ReadLocationLists(const ElfImage& elf, const DwarfParameters& dwarf, std::uint32_t offset,
                       std::uint32_t addr_base) {
  for (const bool trace : {true, false}) {
    TracedPhase phase(trace);
    MessageChannel& channel = phase.channel;
    OutputFile& sym = phase.sym;
    UnitBases unit;
    SetUnitSections(elf, unit);
    unit.addr_base = addr_base;
    for (const std::uint16_t version : {std::uint16_t{4}, std::uint16_t{5}}) {
      DwarfParameters parameters = dwarf;
      parameters.version = version;
      const LocationListSource source =
          MakeLocationListSource(elf, parameters, phase.options, 0, &unit);
      const std::uint32_t end = GetDebugLocAll(channel, &sym, source);
      Require(end == 0 || end == elf.debug_loc.end);
      const ByteCursor& section = source.section;
      if (section.begin() == section.end()) continue;
      LocationRows rows = {};
      const std::uint32_t at = section.begin() + offset % (section.end() - section.begin());
      const std::uint32_t next = ReadLocationList(channel, &sym, source, offset, rows, at);
      // The list ends inside its section, at its end, or (an implausible
      // range) a section's size past the entry that had it.
      Require(next >= at);
    }
  }
}

// Row lines of a listing; with `after_file_line`, only those after its first
// file line (the finishing has no file to give rows before one).
std::size_t CountRows(const std::string& text, bool after_file_line = false) {
  std::size_t rows = 0;
  std::size_t begin = 0;
  bool counting = !after_file_line;
  for (std::size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
    if (text.compare(begin, 2, "+*") == 0) counting = true;
    if (counting && (text.compare(begin, 3, "+0x") == 0 || text.compare(begin, 3, ">0x") == 0)) {
      ++rows;
    }
  }
  return rows;
}

// The line phase and the LIN finishing with the options the input picks.
void RunLinePhases(const ElfImage& elf, const DwarfParameters& dwarf, std::uint8_t choice) {
  RunOptions options;
  options.debug_trace = choice & 1;
  options.inline_delete = choice & 2;
  options.all_includes = choice & 4;
  options.directory_info = !(choice & 8);
  RunContext run(options);
  std::string console;
  run.channel.LimitTrace(kTraceLimit);
  run.channel.CaptureConsole(&console);
  run.echo_line = "/usage: fuzz\n";
  OutputFile lxx;
  lxx.CreateInMemory();
  WriteLineFileHeader(lxx, run);
  GetDebugLineAll(lxx, elf, dwarf, run);
  const std::string& listing = lxx.memory();
  Require(listing.empty() || listing.ends_with("\r\n"));
  Require(CountRows(listing) == run.counters.line_count);

  OutputFile lin;
  lin.CreateInMemory();
  LinePieceReader reader{std::string_view(listing)};
  FinishLineListing(reader, lin, run, dwarf.version);
  Require(CountRows(lin.memory()) == CountRows(listing, true));
}

// The view read as either kind of call-frame section; the words of the
// view serve as addresses, so the FDEs' own addresses are among them.
void WalkCallFrames(const ByteCursor& view) {
  for (const bool eh_frame : {false, true}) {
    CallFrameTable table;
    table.LoadSection(view, eh_frame, 0x1000, 4);
    Require(table.fde_count() <= (view.end() - view.begin()) / 8);
    CfaRange ranges[kLocationRows];
    ByteCursor words = view;
    for (int i = 0; i < 256 && words.remaining() >= 4; ++i) {
      const int n = table.RulesAt(ReadFixed32(words), ranges);
      Require(n >= 0 && n <= kLocationRows);
      for (int r = 0; r < n; ++r) {
        Require(ranges[r].begin < ranges[r].end || ranges[r].end == 0);
        if (r > 0) Require(ranges[r - 1].end <= ranges[r].begin);
      }
    }
  }
}

// What a symbol conversion wrote.
struct SymbolFiles {
  std::uint32_t symbols = 0;
  std::string sym;
  std::string meb;
};

// The symbol conversion over the units, into an in-memory SYM file, and the
// MEB file of the members it stored, following at most `follow_budget`
// references for one entry, with or without the unit's follow cache.
SymbolFiles ConvertSymbols(const ElfImage& elf, const DwarfParameters& parameters,
                           bool trace, std::uint32_t follow_budget, bool follow_cache = true) {
  // The record slots are large; one set serves every input.
  static SymbolConversion* const conversion = new SymbolConversion;
  RunContext run{RunOptions{.debug_trace = trace, .follow_cache = follow_cache}};
  std::string console;
  run.channel.LimitTrace(kTraceLimit);
  run.channel.CaptureConsole(&console);
  OutputFile sym;
  sym.CreateInMemory();
  ElfSymbolTable elf_symbols;
  GetDebugSymTabAll(elf, elf_symbols, run.channel, nullptr);
  DwarfParameters dwarf = parameters;
  SymbolWriteContext write;
  write.out = &sym;
  write.channel = &run.channel;
  write.options = &run.options;
  write.state = &run.state;
  write.elf_symbols = &elf_symbols;
  write.byte_order = dwarf.byte_order;
  write.global_structs = &conversion->global_structs;
  // As in the tool, the stored members count against their limit, past
  // which structures are no longer expanded; without a store a firmware
  // image's conversion expands every structure and takes six times longer.
  SymbolMemberArea members;
  members.Create();
  MemberGroupStore member_store(members, conversion->scope);
  write.member_store = &member_store;
  SymFileSink sink(write);
  conversion->global_structs.Clear();
  WalkContext walk(run, elf, dwarf, *conversion, sink, DefaultEntryProcessor(),
                   [] { return 0u; });
  walk.trace_file = &sym;
  walk.members = &members;
  walk.follow_budget_per_entry = follow_budget;
  CallFrameTable call_frames;
  call_frames.Load(elf, dwarf.address_size);
  walk.call_frames = &call_frames;
  GetDebugInfoAll(walk);
  Require(walk.follow_depth == 0);

  OutputFile meb;
  meb.CreateInMemory();
  write.out = &meb;
  write.global_structs = nullptr;
  write.member_store = nullptr;
  GetDebugMemberAll(write, members);
  return {run.counters.symbol_count, sym.memory(), meb.memory()};
}

}  // namespace
}  // namespace dwarfsift

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dwarfsift;
  const std::span<const std::uint8_t> image(data, size);

  PhaseResult traced;
  RunPhase(image, true, traced);
  CheckPhase(traced, image);
  PhaseResult quiet;
  RunPhase(image, false, quiet);
  CheckPhase(quiet, image);
  Compare(traced, quiet);
  // Without the trace only the reports reach the console, and only the
  // version lines reach the SYM file.
  Require(quiet.console.size() <= traced.console.size());
  CheckVersionLines(quiet, traced);

  for (const LocatedSection& wanted : kLocatedSections) {
    const SectionView& view = traced.elf.*wanted.view;
    if (!view.found()) continue;
    // The end of the section is where a read can go wrong.
    const ByteCursor section = traced.elf.Cursor(view);
    const std::uint32_t sample = section.end() - section.begin() > kSampleBytes
                                     ? section.end() - kSampleBytes
                                     : section.begin();
    WalkView(section.View(sample, section.end()), traced.elf.bytes);
  }

  Require(ReadElfSymbols(traced.elf, true) == ReadElfSymbols(quiet.elf, false));
  WriteSrecords(quiet.elf);
  const std::uint32_t chosen = size >= 4 ? static_cast<std::uint32_t>(data[size - 4]) << 8 |
                                               data[size - 3]
                                         : 0;
  WalkUnits(traced.elf, traced.dwarf, true, chosen, true);
  WalkUnits(quiet.elf, quiet.dwarf, false, chosen, false);
  ReadLocationLists(quiet.elf, quiet.dwarf, chosen * 7, chosen >> 4);
  RunLinePhases(quiet.elf, quiet.dwarf, size > 0 ? data[size / 2] : 0);
  // The follow cache changes no byte: the whole is converted with it and
  // with every type chain walked.
  const SymbolFiles cached = ConvertSymbols(quiet.elf, quiet.dwarf, false, kFollowBudget);
  const SymbolFiles walked = ConvertSymbols(quiet.elf, quiet.dwarf, false, kFollowBudget, false);
  Require(walked.sym == cached.sym && walked.meb == cached.meb);
  // The trace changes no record. Traced, the conversion costs many times
  // the untraced one even once the trace is cut, so it is compared on a
  // sample: .debug_info's first bytes, with fewer references followed per
  // entry.
  ElfImage sample = quiet.elf;
  SectionView& info = sample.debug_info;
  if (info.size > kSampleBytes) {
    info.size = kSampleBytes;
    info.end = info.start + kSampleBytes;
  }
  Require(ConvertSymbols(sample, quiet.dwarf, true, kSampleFollowBudget).symbols ==
          ConvertSymbols(sample, quiet.dwarf, false, kSampleFollowBudget).symbols);

  // A view chosen by the input: its last 8 bytes give begin and end.
  if (size >= 8) {
    ByteCursor whole(image, ByteOrder::kLittle);
    ByteCursor tail = whole.View(size - 8, size);
    const std::uint32_t begin = ReadFixed32(tail);
    const std::uint32_t end = ReadFixed32(tail);
    const ByteCursor view = whole.View(begin, end);
    Require(view.begin() <= view.end() && view.end() <= size);
    if (begin <= end && end <= size) Require(view.begin() == begin && view.end() == end);
    ByteCursor moved = view.At(begin);
    CheckCursor(moved, view.begin(), view.end());
    WalkView(view, image);
    WalkCallFrames(view);
  }
  return 0;
}
