// The store of structure member records kept for the whole run.
//
// It lives in the process's own memory and grows as members are stored, so
// that two runs never share it and a small machine only pays for what a file
// needs. Records go into blocks of a fixed size that are never moved or
// copied once taken (a doubling array would briefly hold its old and new
// storage at once); the texts the records point to are kept the same way.
// Its capacity is a fixed logical limit on the number of records.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace dwarfsift {

// Room for the 150,000 members one unit may store, the group that passes
// that mark (up to 8,191 more) and the members of the units after it; the
// capacity keeps the run's memory within 64 MB of its input.
inline constexpr std::size_t kMemberAreaCapacity = 200000;

template <typename Record>
class MemberArea {
 public:
  explicit MemberArea(std::size_t capacity = kMemberAreaCapacity)
      : capacity_(capacity) {}

  // Takes the first block of memory. False (the area stays absent) when even
  // that cannot be had.
  bool Create() {
    if (!exists_ && !AddBlock()) return false;
    exists_ = true;
    return true;
  }
  void Release() {
    std::vector<std::unique_ptr<Record[]>>().swap(blocks_);
    std::vector<std::unique_ptr<char[]>>().swap(text_blocks_);
    size_ = 0;
    text_used_ = kTextBlockSize;
    exists_ = false;
  }
  bool exists() const { return exists_; }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::size_t room() const { return exists_ ? capacity_ - size_ : 0; }

  // Appends one record. False when the area is absent, full, or the memory
  // to grow it cannot be had.
  bool Append(const Record& record) {
    if (room() == 0) return false;
    if (size_ == blocks_.size() * kBlockRecords && !AddBlock()) return false;
    blocks_[size_ / kBlockRecords][size_ % kBlockRecords] = record;
    ++size_;
    return true;
  }

  // Keeps a copy of `text` (with a terminator) for as long as the area
  // lives; null when the memory cannot be had.
  const char* KeepText(std::string_view text) {
    if (text.empty()) return "";
    const std::size_t need = text.size() + 1;
    if (need > kTextBlockSize - text_used_) {
      const std::size_t block = need > kTextBlockSize ? need : kTextBlockSize;
      char* fresh = new (std::nothrow) char[block];
      if (fresh == nullptr) return nullptr;
      // An oversized text gets a block of its own; the open block stays open.
      if (need > kTextBlockSize) {
        text_blocks_.insert(text_blocks_.begin(), std::unique_ptr<char[]>(fresh));
        std::memcpy(fresh, text.data(), text.size());
        fresh[text.size()] = '\0';
        return fresh;
      }
      text_blocks_.emplace_back(fresh);
      text_used_ = 0;
    }
    char* at = text_blocks_.back().get() + text_used_;
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\0';
    text_used_ += need;
    return at;
  }

  Record& operator[](std::size_t i) { return blocks_[i / kBlockRecords][i % kBlockRecords]; }
  const Record& operator[](std::size_t i) const {
    return blocks_[i / kBlockRecords][i % kBlockRecords];
  }

 private:
  static constexpr std::size_t kBlockRecords = 1024;
  static constexpr std::size_t kTextBlockSize = 64 * 1024;

  bool AddBlock() {
    Record* block = new (std::nothrow) Record[kBlockRecords];
    if (block == nullptr) return false;
    try {
      blocks_.emplace_back(block);
    } catch (const std::bad_alloc&) {
      delete[] block;
      return false;
    }
    return true;
  }

  std::size_t capacity_;
  bool exists_ = false;
  std::size_t size_ = 0;
  std::vector<std::unique_ptr<Record[]>> blocks_;
  std::vector<std::unique_ptr<char[]>> text_blocks_;
  std::size_t text_used_ = kTextBlockSize;  // of the last text block
};

}  // namespace dwarfsift
