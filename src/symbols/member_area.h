// The store of structure member records kept for the whole run.
//
// It lives in the process's own memory and grows as members are stored, so
// that two runs never share it and a small machine only pays for what a file
// needs. Its capacity is a fixed logical limit on the number of records.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace dwarfsift {

inline constexpr std::size_t kMemberAreaCapacity = 158192;

template <typename Record>
class MemberArea {
 public:
  explicit MemberArea(std::size_t capacity = kMemberAreaCapacity)
      : capacity_(capacity) {}

  // Takes the first block of memory. False (the area stays absent) when even
  // that cannot be had.
  bool Create() {
    try {
      records_.reserve(capacity_ < kInitialRecords ? capacity_ : kInitialRecords);
    } catch (const std::bad_alloc&) {
      return false;
    }
    exists_ = true;
    return true;
  }
  void Release() {
    std::vector<Record>().swap(records_);
    exists_ = false;
  }
  bool exists() const { return exists_; }

  std::size_t size() const { return records_.size(); }
  std::size_t capacity() const { return capacity_; }
  std::size_t room() const { return exists_ ? capacity_ - records_.size() : 0; }

  // Appends one record. False when the area is absent, full, or the memory
  // to grow it cannot be had.
  bool Append(const Record& record) {
    if (room() == 0) return false;
    try {
      records_.push_back(record);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  Record& operator[](std::size_t i) { return records_[i]; }
  const Record& operator[](std::size_t i) const { return records_[i]; }

 private:
  static constexpr std::size_t kInitialRecords = 1024;

  std::size_t capacity_;
  bool exists_ = false;
  std::vector<Record> records_;
};

}  // namespace dwarfsift
