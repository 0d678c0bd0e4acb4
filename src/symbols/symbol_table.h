// The slots in which one top-level debugging entry is built, the decision
// whether it goes to the SYM file, and the text form of a symbol record.
//
// The unit walk fills slot 0 (the entry), slots 1..8191 (the members of its
// structure type) and slots 8192.. (its "-g" global copies), then calls
// EmitCurrentSymbol. The same record writer produces the MEB file from the
// member area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "dwarf/byte_cursor.h"
#include "symbols/symbol_record.h"

namespace dwarfsift {

class ElfSymbolTable;
class MessageChannel;
class OutputFile;
struct RunOptions;
struct RunState;

// Symbol classes (`ident`).
inline constexpr std::int32_t kIdentLabel = 1;
inline constexpr std::int32_t kIdentVariable = 2;
inline constexpr std::int32_t kIdentMember = 4;
inline constexpr std::int32_t kIdentProgram = 8;
inline constexpr std::int32_t kIdentStaticProgram = 16;  // S_PROGRAM
inline constexpr std::int32_t kIdentLocalStatic = 32;    // LOCAL_S
inline constexpr std::int32_t kIdentLocalRegister = 64;  // LOCAL_R
inline constexpr std::int32_t kIdentLocalFrame = 128;    // LOCAL_F
inline constexpr std::int32_t kIdentUnit = 256;
inline constexpr std::int32_t kIdentNon = 512;

// Type flags (`kind`).
inline constexpr std::int32_t kKindArray = 0x1;
inline constexpr std::int32_t kKindPointer = 0x2;
inline constexpr std::int32_t kKindStruct = 0x4;
inline constexpr std::int32_t kKindBit = 0x8;
// A structure reached again while it is being expanded.
inline constexpr std::int32_t kKindStruct2P = 0x200;

// Slot layout of the SymbolTable.
inline constexpr std::size_t kSymbolSlotCount = 16385;
inline constexpr std::size_t kCurrentSlot = 0;
inline constexpr std::size_t kFirstMemberSlot = 1;
inline constexpr std::size_t kLastMemberSlot = 8191;
inline constexpr std::size_t kFirstCopySlot = 8192;
inline constexpr std::size_t kMaxGlobalCopies = kSymbolSlotCount - kFirstCopySlot;

class SymbolTable;

// Zeroes `count` bytes. Records are cleared once per entry; this keeps the
// library's vector stores where the compiler would expand a fixed-size
// memset into a slow-starting `rep stos`.
void ZeroBytes(void* at, std::size_t count);

// Member slots whose contents are known but not yet written. A replayed
// type follow leaves its members here; whatever needs the slots themselves
// has them written first (WritePendingMembers), while storing a member group
// that was stored before needs only their identity.
class PendingMembers {
 public:
  virtual ~PendingMembers() = default;
  // Writes the member slots into `table`, as they stand at this point of
  // the entry (finished when the entry's sizes were).
  virtual void Write(SymbolTable& table) = 0;
  // Equal identities stand for equal member slots, for the whole run.
  virtual std::uint64_t identity() const = 0;
};

// The 16,385 record slots of the current unit, allocated once per run as
// zero pages that the system maps in only when they are first written. A
// record is about 1.6 KB, so the table is large; ClearAll zeroes only the
// slots that can have been written since the last clear (every write goes
// through the non-const accessors, which note the highest slot reached in
// each of the two regions). Member slots never take location rows (the
// location rules write slot 0, and the copies are made from it), so their
// clearing stops before the rows, which are two thirds of a record.
class SymbolTable {
 public:
  SymbolTable();
  SymbolTable(const SymbolTable&) = delete;
  SymbolTable& operator=(const SymbolTable&) = delete;

  static constexpr std::size_t size() { return kSymbolSlotCount; }

  SymbolRecord& operator[](std::size_t index) {
    Touch(index);
    return slots_[index];
  }
  const SymbolRecord& operator[](std::size_t index) const {
    return slots_[index];
  }

  // All slots as one span (for the record writer). Taking the mutable span
  // counts as touching every slot.
  std::span<SymbolRecord> slots() {
    member_high_ = kLastMemberSlot;
    copy_high_ = kSymbolSlotCount - 1;
    all_touched_at_ = ++clock_;
    return {slots_.get(), kSymbolSlotCount};
  }
  std::span<const SymbolRecord> slots() const {
    return {slots_.get(), kSymbolSlotCount};
  }

  // Every slot of the member region above this one is still zero since the
  // last ClearAll, so scans of the region can stop here.
  std::size_t highest_touched_member_slot() const {
    return member_high_;
  }

  // A count of the accesses that may have written a member slot, and
  // whether slots first..last (member slots) were left alone since the count
  // stood at `since`.
  std::uint64_t clock() const { return clock_; }
  bool UntouchedSince(std::size_t first, std::size_t last, std::uint64_t since) const {
    if (all_touched_at_ > since || cleared_at_ > since) return false;
    for (std::size_t i = first; i <= last; ++i) {
      if (touched_at_[i] > since) return false;
    }
    return true;
  }

  // Member slots still to be written; null when the slots are all there is.
  PendingMembers* pending_members() const { return pending_; }
  void SetPendingMembers(PendingMembers* pending) { pending_ = pending; }
  void WritePendingMembers() {
    if (pending_ == nullptr) return;
    PendingMembers* pending = pending_;
    pending_ = nullptr;
    pending->Write(*this);
  }

  // Zeroes one slot.
  void ClearSlot(std::size_t index);
  // Zeroes every slot (member slots up to their location rows). Only the
  // touched ones are actually written (slot 0 too: most entries at unit
  // level are types that never write it), so this is also the cheap reset
  // after each top-level entry, and it keeps the scans of EmitCurrentSymbol
  // to the slots of that entry. Pending members are dropped.
  void ClearAll();

 private:
  void Touch(std::size_t index) {
    if (index < kFirstCopySlot) {
      touched_at_[index] = ++clock_;
      if (index > member_high_) member_high_ = index;
    } else if (index > copy_high_) {
      copy_high_ = index;
    }
  }

  struct FreeSlots {
    void operator()(SymbolRecord* slots) const;
  };
  std::unique_ptr<SymbolRecord[], FreeSlots> slots_;
  // Highest slot handed out since the last ClearAll, per region; the copy
  // region is untouched while copy_high_ is below kFirstCopySlot.
  std::size_t member_high_ = 0;
  std::size_t copy_high_ = 0;
  std::uint64_t clock_ = 0;
  std::uint64_t all_touched_at_ = 0;
  std::uint64_t cleared_at_ = 0;
  std::unique_ptr<std::uint64_t[]> touched_at_{new std::uint64_t[kFirstCopySlot]()};
  PendingMembers* pending_ = nullptr;
};

// The global structure variables written so far in the run, so that one seen
// again from another unit is written once.
class GlobalStructList {
 public:
  static constexpr std::size_t kCapacity = 2000;

  void Clear() { count_ = 0; }
  std::size_t size() const { return count_; }

  // Whether an entry equal to `record` is listed: the listed name begins
  // with the record's name as a word (case ignored), and class, flags,
  // address, range, sizes and register code are the same.
  bool Contains(const SymbolRecord& record) const;
  // Lists `record`; false (nothing listed) when the list is full.
  bool Add(const SymbolRecord& record);

 private:
  struct Entry {
    char name[sizeof(SymbolRecord::name)];
    std::int32_t ident;
    std::int32_t kind;
    std::int32_t location;
    std::uint32_t fstart;
    std::uint32_t fend;
    std::int32_t one_byte;
    std::int32_t total_byte;
    std::int32_t regcode;
  };
  std::unique_ptr<Entry[]> entries_;  // allocated on the first Add
  std::size_t count_ = 0;
};

// Where a stored member group lies in the member area.
struct MemberGroupRange {
  bool stored = false;  // false: no room, slot 0 keeps mebtop/mebend 0
  std::int32_t first = 0;
  std::int32_t last = 0;
};

// Stores the member slots of the current entry (slots 1.. of `table`) in the
// member area. The member-area owner implements it; while none is given,
// members are not stored.
class MemberStore {
 public:
  virtual ~MemberStore() = default;
  virtual MemberGroupRange StoreMembers(SymbolTable& table) = 0;
};

// What writing records needs from the run. `out` may be null (nothing goes
// to a file; record lines still reach the channel while tracing).
struct SymbolWriteContext {
  OutputFile* out = nullptr;
  MessageChannel* channel = nullptr;
  const RunOptions* options = nullptr;
  const RunState* state = nullptr;  // read as the run switches it
  const ElfSymbolTable* elf_symbols = nullptr;
  ByteOrder byte_order = ByteOrder::kLittle;  // of the DWARF data
  std::uint32_t machine = 0;                  // normalised e_machine
  GlobalStructList* global_structs = nullptr;
  MemberStore* member_store = nullptr;        // null: no member area
};

// Which table a record lives in: only SymbolTable copies print a shifted
// index.
enum class RecordTableKind : std::uint8_t { kSymbolTable, kMemberArea };

// Whether `current` (slot 0) is to be written. May give it the address of a
// same-named ELF symbol (its `location`) when it has none of its own.
bool SymbolIsWanted(SymbolRecord& current, const RunState& state,
                    const ElfSymbolTable& elf_symbols);

// Writes the finished entry in `table` (slot 0, its "-g" copies in slots
// 8192 .. 8191 + global_copy_count) to the SYM file, after storing its
// members through the context's MemberStore. True when the entry was written
// (the caller then counts one symbol), false when it was not wanted or is a
// global structure already written.
bool EmitCurrentSymbol(const SymbolWriteContext& context, SymbolTable& table,
                       std::uint32_t global_copy_count);

// Writes record `index` of `table` line by line; the record is adjusted in
// place first (base-type rename, "-2" pointer sizes, bit fields, register
// pairs). False, and nothing written, for a record without a name or an
// index outside the table.
bool WriteSymbolRecord(const SymbolWriteContext& context,
                       std::span<SymbolRecord> table, std::size_t index,
                       RecordTableKind table_kind);

// Writes records[0] as `printed_index`, adjusted as WriteSymbolRecord does;
// records[1..] are the records after it that a run of bit fields may
// adjust (those up to the last member slot of its table). False for a
// record without a name.
bool WriteRecordOfRun(const SymbolWriteContext& context, std::span<SymbolRecord> records,
                      std::size_t printed_index);

}  // namespace dwarfsift
