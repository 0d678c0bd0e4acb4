// Shared set-up of the symbol-record tests: a run's worth of writer context
// around an in-memory SYM file, and records built by hand.
#pragma once

#include <cstring>
#include <string>

#include "base/message_channel.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"
#include "elf/symbol_table.h"
#include "symbols/symbol_table.h"

namespace dwarfsift::testing_support {

struct WriterRig {
  RunOptions options;
  RunState state{options};
  MessageChannel channel{options, state};
  ElfSymbolTable elf;
  GlobalStructList structs;
  OutputFile out;

  WriterRig() { out.CreateInMemory(); }

  SymbolWriteContext Context(ByteOrder order = ByteOrder::kLittle,
                             MemberStore* store = nullptr) {
    SymbolWriteContext c;
    c.out = &out;
    c.channel = &channel;
    c.options = &options;
    c.state = &state;
    c.elf_symbols = &elf;
    c.byte_order = order;
    c.machine = 80;  // ARM register names
    c.global_structs = &structs;
    c.member_store = store;
    return c;
  }
  const std::string& text() const { return out.memory(); }
};

inline SymbolRecord MakeRecord(const char* name, const char* typen,
                               std::int32_t ident, std::int32_t kind) {
  SymbolRecord r;
  std::memset(&r, 0, sizeof r);
  std::strncpy(r.name, name, sizeof r.name - 1);
  std::strncpy(r.typen, typen, sizeof r.typen - 1);
  r.ident = ident;
  r.kind = kind;
  return r;
}

}  // namespace dwarfsift::testing_support
