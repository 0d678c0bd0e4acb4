#include "symbols/symbol_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "base/platform.h"
#include "base/run_state.h"
#include "base/text_match.h"
#include "elf/symbol_table.h"

namespace dwarfsift {

// calloc hands out a block this large as fresh zero pages: only the slots
// a file's entries reach ever take memory.
SymbolTable::SymbolTable()
    : slots_(static_cast<SymbolRecord*>(std::calloc(kSymbolSlotCount, sizeof(SymbolRecord)))) {
  if (!slots_) throw std::bad_alloc();
  platform::AdviseLargePages(slots_.get(), kSymbolSlotCount * sizeof(SymbolRecord));
}

void SymbolTable::FreeSlots::operator()(SymbolRecord* slots) const { std::free(slots); }

namespace {

// The library's memset, through a pointer the compiler cannot see through:
// a memset of a record's fixed size is otherwise expanded into `rep stos`,
// which is slow to start at these sizes.
void* (*const volatile library_memset)(void*, int, std::size_t) = std::memset;

}  // namespace

void ZeroBytes(void* at, std::size_t count) { library_memset(at, 0, count); }

void SymbolTable::ClearSlot(std::size_t index) {
  ZeroBytes(&slots_[index], sizeof(SymbolRecord));
}

void SymbolTable::ClearAll() {
  if (touched_at_[kCurrentSlot] > cleared_at_ || all_touched_at_ > cleared_at_) {
    ClearSlot(kCurrentSlot);
  }
  for (std::size_t i = kFirstMemberSlot; i <= member_high_; ++i) {
    ZeroBytes(&slots_[i], BytesBeforeRows(slots_[i]));
  }
  if (copy_high_ >= kFirstCopySlot) {
    std::memset(&slots_[kFirstCopySlot], 0,
                (copy_high_ - kFirstCopySlot + 1) * sizeof(SymbolRecord));
  }
  member_high_ = 0;
  copy_high_ = 0;
  cleared_at_ = ++clock_;
  pending_ = nullptr;
}

namespace {

std::string_view NameOf(const char* name, std::size_t size) {
  return std::string_view(name, strnlen(name, size));
}

}  // namespace

bool GlobalStructList::Contains(const SymbolRecord& record) const {
  const std::string_view name = NameOf(record.name, sizeof record.name);
  for (std::size_t i = 0; i < count_; ++i) {
    const Entry& e = entries_[i];
    // The cheap fields first: most listed structures differ in address.
    if (e.location != record.location || e.ident != record.ident ||
        e.kind != record.kind || e.fstart != record.fstart ||
        e.fend != record.fend || e.one_byte != record.one_byte ||
        e.total_byte != record.total_byte || e.regcode != record.regcode) {
      continue;
    }
    if (MatchWordNoCase(NameOf(e.name, sizeof e.name), name)) return true;
  }
  return false;
}

bool GlobalStructList::Add(const SymbolRecord& record) {
  if (count_ >= kCapacity) return false;
  if (!entries_) entries_.reset(new Entry[kCapacity]);
  Entry& e = entries_[count_++];
  std::memcpy(e.name, record.name, sizeof e.name);
  e.name[sizeof e.name - 1] = '\0';
  e.ident = record.ident;
  e.kind = record.kind;
  e.location = record.location;
  e.fstart = record.fstart;
  e.fend = record.fend;
  e.one_byte = record.one_byte;
  e.total_byte = record.total_byte;
  e.regcode = record.regcode;
  return true;
}

bool SymbolIsWanted(SymbolRecord& current, const RunState& state,
                    const ElfSymbolTable& elf_symbols) {
  if (current.location != 0) return true;
  const std::int32_t ident = current.ident;
  if (ident == 0) return false;
  if (current.typen[0] == '\0' && current.kind == 0) return false;
  const bool local = ident == kIdentLocalStatic || ident == kIdentLocalRegister ||
                     ident == kIdentLocalFrame;
  if (state.no_local_structs && local && (current.kind & kKindStruct) != 0) {
    return false;
  }
  if (ident != kIdentNon && ident != kIdentVariable && ident != kIdentLocalStatic &&
      ident != kIdentProgram && ident != kIdentStaticProgram) {
    return true;
  }
  // A symbol that should have an address but carries none: the ELF symbol
  // table may know it by name.
  const auto value =
      elf_symbols.FindElfSymbol(NameOf(current.name, sizeof current.name));
  if (!value) return false;
  current.location = static_cast<std::int32_t>(*value);
  return true;
}

bool EmitCurrentSymbol(const SymbolWriteContext& context, SymbolTable& table,
                       std::uint32_t global_copy_count) {
  SymbolRecord& current = table[kCurrentSlot];
  if (!SymbolIsWanted(current, *context.state, *context.elf_symbols)) return false;
  // Members are written to the SYM file unless they are a structure's, and
  // a bit field's record is adjusted by the slots after it.
  if ((current.kind & kKindStruct) == 0 || (current.kind & kKindBit) != 0) {
    table.WritePendingMembers();
  }

  // Slots past the highest touched member slot are still zero: no scan of
  // the member region needs to go further.
  const std::size_t member_end =
      std::min(table.highest_touched_member_slot(), kLastMemberSlot);
  if ((current.kind & kKindStruct) != 0) {
    if (current.ident == kIdentVariable && context.global_structs != nullptr) {
      if (context.global_structs->Contains(current)) return false;
      context.global_structs->Add(current);
    }
    if (context.member_store != nullptr) {
      const MemberGroupRange group = context.member_store->StoreMembers(table);
      if (group.stored) {
        current.mebtop = group.first;
        current.mebend = group.last;
        // Looked at through the const view so that an absent copy does not
        // count as a touched slot.
        if (std::as_const(table)[kFirstCopySlot].name[0] != '\0') {
          table[kFirstCopySlot].mebtop = group.first;
          table[kFirstCopySlot].mebend = group.last;
        }
      }
    }
    // Members go to the member area only. The clearing stops at the last
    // member slot so that a "-g" copy right after a full member region
    // keeps its name.
    for (std::size_t i = kFirstMemberSlot; i <= member_end; ++i) {
      if (table[i].name[0] == '\0') break;
      table[i].name[0] = '\0';
    }
  }

  // The writer adjusts runs of bit fields in the slots after a record, all
  // of them already touched, so a plain view of the slots is enough here.
  const std::span<SymbolRecord> slots(&table[kCurrentSlot], SymbolTable::size());
  for (std::size_t i = 0; i <= member_end; ++i) {
    WriteSymbolRecord(context, slots, i, RecordTableKind::kSymbolTable);
  }
  const std::size_t copies =
      std::min<std::size_t>(global_copy_count, kMaxGlobalCopies);
  for (std::size_t i = kFirstCopySlot; i < kFirstCopySlot + copies; ++i) {
    WriteSymbolRecord(context, slots, i, RecordTableKind::kSymbolTable);
  }
  return true;
}

}  // namespace dwarfsift
