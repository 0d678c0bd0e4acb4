#include "symbols/members.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

namespace dwarfsift {

namespace {

// An FNV-1a-style hash over the fields that decide whether two member
// records are equal.
class FieldHash {
 public:
  void Text(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) Byte(static_cast<std::uint8_t>(*p));
    Byte(0);
  }
  // A whole number at a time: the hash only sorts groups into chains, so
  // it needs no byte-exact definition.
  void Number(std::int32_t value) {
    hash_ ^= static_cast<std::uint32_t>(value);
    hash_ *= 0x100000001B3ull;
  }
  std::uint64_t value() const { return hash_; }

 private:
  void Byte(std::uint8_t b) {
    hash_ ^= b;
    hash_ *= 0x100000001B3ull;
  }
  std::uint64_t hash_ = 0xCBF29CE484222325ull;
};

// The `struct` text a staged record carries: the group's name on its first
// record, the slot's own text on the others.
const char* StagedStructText(const SymbolRecord& slot, bool first,
                             const char* group_name) {
  return first ? group_name : slot.struct_name;
}

void HashRecord(FieldHash& hash, const SymbolRecord& r, const char* struct_text) {
  hash.Text(struct_text);
  hash.Text(r.name);
  hash.Text(r.typen);
  hash.Number(r.ident);
  hash.Number(r.kind);
  hash.Number(r.ele_count);
  for (const std::int32_t e : r.ele) hash.Number(e);
  hash.Number(r.location);
  hash.Number(r.one_byte);
  hash.Number(r.total_byte);
  hash.Number(r.struct_len);
  hash.Number(r.bit_off);
  hash.Number(r.bit_size);
}

bool SameText(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// Equal as far as a member group is concerned; the other fields (offsets of
// the type entries, ranges, depth) may differ between equal groups.
bool SameMember(const SymbolRecord& staged, const char* struct_text,
                const MemberRecord& stored) {
  return SameText(struct_text, stored.struct_name) && SameText(staged.name, stored.name) &&
         SameText(staged.typen, stored.typen) && staged.ident == stored.ident &&
         staged.kind == stored.kind && staged.ele_count == stored.ele_count &&
         std::equal(std::begin(staged.ele), std::end(staged.ele), std::begin(stored.ele)) &&
         staged.location == stored.location && staged.one_byte == stored.one_byte &&
         staged.total_byte == stored.total_byte && staged.struct_len == stored.struct_len &&
         staged.bit_off == stored.bit_off && staged.bit_size == stored.bit_size;
}

template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

// The stored form of a member slot, its texts still to be kept. Stored
// groups carry no range.
MemberRecord ToMemberRecord(const SymbolRecord& slot) {
  MemberRecord m{};
  static_cast<RecordNumbers&>(m) = slot;
  m.fstart = m.fend = 0;
  return m;
}

template <std::size_t N>
void CopyText(char (&field)[N], const char* text) {
  const std::size_t n = strnlen(text, N - 1);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

// A stored member as a record for the writer.
void ToSymbolRecord(const MemberRecord& m, SymbolRecord& r) {
  // The location rows stay zero: members never take any.
  ZeroBytes(&r, BytesBeforeRows(r));
  static_cast<RecordNumbers&>(r) = m;
  CopyText(r.struct_name, m.struct_name);
  CopyText(r.name, m.name);
  CopyText(r.typen, m.typen);
}

}  // namespace

void MemberGroupList::Clear() {
  groups_.clear();
  next_.clear();
  chains_.clear();
}

void MemberGroupList::Add(std::uint64_t hash, std::uint32_t first, std::uint32_t last) {
  const auto index = static_cast<std::uint32_t>(groups_.size());
  groups_.push_back(Group{first, last});
  next_.push_back(kNone);
  const auto [chain, added] = chains_.try_emplace(hash, Chain{index, index});
  if (!added) {
    next_[chain->second.tail] = index;
    chain->second.tail = index;
  }
}

MemberGroupRange MemberGroupStore::StoreMembers(SymbolTable& table) {
  // The group's name, cut as a stored record keeps it.
  char group_name[kGroupNameLimit + 1];
  const std::size_t name_length = std::min(std::strlen(scope_.struct_tag_name), kGroupNameLimit);
  std::memcpy(group_name, scope_.struct_tag_name, name_length);
  group_name[name_length] = '\0';

  // Members whose slots are still pending were stored (or found) before
  // under the same identity and name: equal slots find the same group again,
  // the first equal one stored.
  const PendingMembers* pending = table.pending_members();
  const std::uint64_t identity = pending != nullptr ? pending->identity() : 0;
  if (pending != nullptr) {
    const auto known = groups_by_identity_.find(identity);
    if (known != groups_by_identity_.end() &&
        std::strcmp(known->second.group_name, group_name) == 0) {
      return known->second.range;
    }
    table.WritePendingMembers();
  }
  const MemberGroupRange range = StoreMemberSlots(table, group_name);
  if (pending != nullptr && range.stored && range.last >= range.first) {
    KnownGroup& known = groups_by_identity_[identity];
    std::memcpy(known.group_name, group_name, name_length + 1);
    known.range = range;
  }
  return range;
}

MemberGroupRange MemberGroupStore::StoreMemberSlots(const SymbolTable& table,
                                                    const char* group_name) {
  // The members are the slots from 1 on, as far as the entry reached and
  // while they are members. They are compared in place and copied only
  // when a new group is stored.
  const auto highest = static_cast<std::size_t>(std::max(scope_.highest_slot, 0));
  const std::size_t last_slot = std::min(highest, kLastMemberSlot);
  std::size_t count = 0;
  while (kFirstMemberSlot + count <= last_slot &&
         table[kFirstMemberSlot + count].ident == kIdentMember) {
    ++count;
  }
  const auto size = static_cast<std::int32_t>(area_.size());
  if (count == 0) return MemberGroupRange{true, size, size - 1};

  FieldHash hash;
  hash.Number(static_cast<std::int32_t>(count));
  for (std::size_t j = 0; j < count; ++j) {
    const SymbolRecord& slot = table[kFirstMemberSlot + j];
    HashRecord(hash, slot, StagedStructText(slot, j == 0, group_name));
  }
  const auto equal = [&](const MemberGroupList::Group& group) {
    if (group.last - group.first + 1 != count) return false;
    for (std::size_t j = 0; j < count; ++j) {
      const SymbolRecord& slot = table[kFirstMemberSlot + j];
      if (!SameMember(slot, StagedStructText(slot, j == 0, group_name),
                      area_[group.first + j])) {
        return false;
      }
    }
    return true;
  };
  const std::ptrdiff_t found = groups_.FindFirst(hash.value(), equal);
  if (found >= 0) {
    const MemberGroupList::Group& group = groups_[static_cast<std::size_t>(found)];
    return MemberGroupRange{true, static_cast<std::int32_t>(group.first),
                            static_cast<std::int32_t>(group.last)};
  }

  if (area_.room() < count) return MemberGroupRange{};
  const auto first = static_cast<std::uint32_t>(area_.size());
  for (std::size_t j = 0; j < count; ++j) {
    const SymbolRecord& slot = table[kFirstMemberSlot + j];
    MemberRecord record = ToMemberRecord(slot);
    record.struct_name = area_.KeepText(StagedStructText(slot, j == 0, group_name));
    record.name = area_.KeepText(FieldText(slot.name));
    record.typen = area_.KeepText(FieldText(slot.typen));
    // Only running out of memory can refuse a record the room check allowed.
    if (record.struct_name == nullptr || record.name == nullptr || record.typen == nullptr ||
        !area_.Append(record)) {
      return MemberGroupRange{};
    }
  }
  const auto last = static_cast<std::uint32_t>(area_.size() - 1);
  groups_.Add(hash.value(), first, last);
  return MemberGroupRange{true, static_cast<std::int32_t>(first),
                          static_cast<std::int32_t>(last)};
}

void GetDebugMemberAll(const SymbolWriteContext& context, SymbolMemberArea& area) {
  const std::size_t count = area.size();
  if (count == 0) return;
  const auto records = [&](std::size_t i) -> const MemberRecord& {
    return std::as_const(area)[i];
  };

  // Runs of consecutive records of one structure (equal `entry`), and the
  // first such run of each structure in the area, found in one pass so
  // that resolving a record never scans the whole area.
  std::vector<std::uint32_t> run_first(count);
  std::vector<std::uint32_t> run_last(count);
  struct Run {
    std::uint32_t first;
    std::uint32_t last;
  };
  std::unordered_map<std::uint32_t, Run> first_run;
  for (std::size_t i = 0; i < count;) {
    std::size_t j = i;
    while (j + 1 < count && records(j + 1).entry == records(i).entry) ++j;
    for (std::size_t k = i; k <= j; ++k) {
      run_first[k] = static_cast<std::uint32_t>(i);
      run_last[k] = static_cast<std::uint32_t>(j);
    }
    first_run.try_emplace(records(i).entry,
                          Run{static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)});
    i = j + 1;
  }

  // The writer adjusts a run of bit fields in the records after the one it
  // writes, as far as the last member slot's index. Each record is turned
  // into a full record once: with the run after it when it starts one, and
  // the run's records are then written from there, adjusted.
  const std::size_t limit = std::min(count, kLastMemberSlot + 1);
  std::vector<SymbolRecord> window;
  std::size_t window_first = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (i >= window_first + window.size()) {
      std::size_t end = i + 1;
      while (end < limit && (records(end).kind & kKindBit) != 0) ++end;
      window.resize(end - i);
      for (std::size_t k = i; k < end; ++k) ToSymbolRecord(records(k), window[k - i]);
      window_first = i;
    }
    SymbolRecord& record = window[i - window_first];
    if ((record.kind & kKindStruct2P) != 0) {
      if (record.entry == record.entry2) {
        // A structure pointing back to the one it belongs to: the members
        // around it.
        record.mebtop = static_cast<std::int32_t>(run_first[i]);
        record.mebend = static_cast<std::int32_t>(run_last[i]);
      } else if (const auto run = first_run.find(record.entry2); run != first_run.end()) {
        record.mebtop = static_cast<std::int32_t>(run->second.first);
        record.mebend = static_cast<std::int32_t>(run->second.last);
      } else {
        record.mebtop = record.mebend = -1;
      }
    } else if ((record.kind & kKindStruct) != 0) {
      record.mebtop = static_cast<std::int32_t>(i + 1);
    }
    if (record.name[0] == '\0') {
      std::snprintf(record.name, sizeof record.name, "?%d", static_cast<int>(i));
    }
    const std::span<SymbolRecord> rest = std::span<SymbolRecord>(window).subspan(i - window_first);
    WriteRecordOfRun(context, i + 1 < limit ? rest : rest.first(1), i);
  }
}

}  // namespace dwarfsift
