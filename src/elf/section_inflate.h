// Compressed debugging sections: their headers and the inflating of their
// streams.
//
// Two layouts reach the tool. A section flagged SHF_COMPRESSED starts with
// an Elf32_Chdr (type, plain size, alignment; in the file's byte order)
// whose type says zlib or zstd. The older GNU form is a section named
// .zdebug_* that starts with "ZLIB" and the plain size as 8 big-endian
// bytes, then a zlib stream. Either way the header's size must be exactly
// what the stream gives. The section phase decides which sections to
// inflate and where their bytes go; this module reads one header and
// inflates one stream into room of the claimed size, never more.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "dwarf/byte_cursor.h"

namespace dwarfsift {

inline constexpr std::uint32_t kShfCompressed = 0x800;

enum class Compression : std::uint8_t { kZlib, kZstd };

struct CompressedStream {
  Compression kind = Compression::kZlib;
  std::uint64_t claimed_size = 0;  // of the plain bytes
  ByteCursor stream;               // the compressed bytes after the header
};

// Reads the header at the start of `section` (the GNU form when `gnu`).
// None, with `reason` set, for a header cut short or of an unknown type.
std::optional<CompressedStream> ReadCompressionHeader(ByteCursor section, bool gnu,
                                                      std::string& reason);

// Inflates the stream into `out`, which has room for exactly
// `claimed_size` bytes. False, with `reason` set, unless the stream is
// whole, sound and gives exactly that many bytes.
bool InflateStream(const CompressedStream& compressed, std::uint8_t* out,
                   std::string& reason);

}  // namespace dwarfsift
