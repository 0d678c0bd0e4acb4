// A bounds-checked read position over the loaded input image.
//
// Every reader of the tool goes through a ByteCursor. A cursor sees a view
// [begin, end) of the image (the whole file, one section, one unit, ...);
// positions are offsets from the start of the image, so they can be handed
// between phases and printed as file offsets.
//
// A read that would leave the view never touches memory outside it. Instead
// it yields zero (an empty span or string), moves the cursor to the end of
// the view and sets the sticky `exhausted` flag. Every walk bounded by
// `AtEnd()` therefore stops after such a read, and a caller that needs to know
// whether the data was complete checks `ok()` once after a run of reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace dwarfsift {

enum class ByteOrder : std::uint8_t { kLittle, kBig };

class ByteCursor {
 public:
  ByteCursor() = default;
  // A cursor over the whole image, positioned at its first byte.
  ByteCursor(std::span<const std::uint8_t> image, ByteOrder order)
      : data_(image.data()),
        image_size_(image.size()),
        end_(Clamp(image.size())),
        order_(order) {}

  // A cursor over [begin, end) of the same image, positioned at begin. The
  // bounds are clamped to the image; a begin past the end gives an empty view.
  ByteCursor View(std::uint64_t begin, std::uint64_t end) const {
    ByteCursor view = *this;
    view.end_ = Clamp(end < image_size_ ? end : image_size_);
    view.begin_ = Clamp(begin < view.end_ ? begin : view.end_);
    view.pos_ = view.begin_;
    view.exhausted_ = false;
    return view;
  }
  // The same view, positioned at `pos` (which must lie inside it; otherwise
  // the cursor is exhausted at the end of the view).
  ByteCursor At(std::uint64_t pos) const {
    ByteCursor moved = *this;
    moved.Seek(pos);
    return moved;
  }

  std::uint32_t position() const { return pos_; }
  std::uint32_t begin() const { return begin_; }
  std::uint32_t end() const { return end_; }
  std::uint32_t remaining() const { return end_ - pos_; }
  bool AtEnd() const { return pos_ >= end_; }
  bool ok() const { return !exhausted_; }
  ByteOrder byte_order() const { return order_; }
  std::span<const std::uint8_t> image() const { return {data_, image_size_}; }

  void Seek(std::uint64_t pos) {
    if (pos < begin_ || pos > end_) {
      Exhaust();
      return;
    }
    pos_ = static_cast<std::uint32_t>(pos);
  }

  // Takes the next `n` bytes, or exhausts the cursor and returns nullptr when
  // fewer remain.
  const std::uint8_t* Take(std::uint64_t n) {
    if (n > remaining()) {
      Exhaust();
      return nullptr;
    }
    const std::uint8_t* bytes = data_ + pos_;
    pos_ += static_cast<std::uint32_t>(n);
    return bytes;
  }
  void Skip(std::uint64_t n) { Take(n); }

  std::uint8_t ReadByte() {
    const std::uint8_t* byte = Take(1);
    return byte ? *byte : 0;
  }
  // The byte at the position without consuming it; 0 at the end.
  std::uint8_t PeekByte() const { return AtEnd() ? 0 : data_[pos_]; }

  // A NUL-terminated text starting at the position. The terminator is
  // consumed. Text that runs to the end of the view without a terminator is
  // returned as far as it goes and exhausts the cursor.
  std::string_view ReadCString() {
    const std::uint32_t start = pos_;
    while (pos_ < end_ && data_[pos_] != 0) ++pos_;
    const std::string_view text(reinterpret_cast<const char*>(data_) + start,
                                pos_ - start);
    if (pos_ < end_) {
      ++pos_;  // the terminator
    } else {
      exhausted_ = true;
    }
    return text;
  }

 private:
  static std::uint32_t Clamp(std::uint64_t value) {
    return value > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(value);
  }
  void Exhaust() {
    pos_ = end_;
    exhausted_ = true;
  }

  const std::uint8_t* data_ = nullptr;
  std::size_t image_size_ = 0;
  std::uint32_t begin_ = 0;
  std::uint32_t end_ = 0;
  std::uint32_t pos_ = 0;
  ByteOrder order_ = ByteOrder::kLittle;
  bool exhausted_ = false;
};

}  // namespace dwarfsift
