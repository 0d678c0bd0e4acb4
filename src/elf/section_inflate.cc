#include "elf/section_inflate.h"

#include <zlib.h>

#include <cstdio>

#if DWARFSIFT_HAVE_ZSTD
#include <zstd.h>
#include <zstd_errors.h>
#endif

#include "base/message_channel.h"
#include "base/messages.h"
#include "dwarf/readers.h"

namespace dwarfsift {
namespace {

constexpr std::uint32_t kElfCompressZlib = 1;
constexpr std::uint32_t kElfCompressZstd = 2;

bool InflateZlib(const std::uint8_t* in, std::uint32_t in_size, std::uint8_t* out,
                 std::uint64_t out_size, std::string& reason) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    reason = FormatString(texts::kInflateCorrupt, "no memory");
    return false;
  }
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = in_size;
  z.next_out = out;
  z.avail_out = static_cast<uInt>(out_size);
  int status = inflate(&z, Z_FINISH);
  bool too_long = false;
  if (status == Z_BUF_ERROR && z.avail_out == 0) {
    // The room is full: one byte more tells a stream that ends here from
    // one that gives more than its header claims.
    std::uint8_t probe = 0;
    z.next_out = &probe;
    z.avail_out = 1;
    status = inflate(&z, Z_FINISH);
    too_long = z.avail_out == 0;
  }
  const std::uint64_t given = z.total_out;
  const std::string message = z.msg != nullptr ? z.msg : "zlib error";
  inflateEnd(&z);
  if (status == Z_STREAM_END && given == out_size && !too_long) return true;
  if (too_long) {
    reason = FormatString(texts::kInflateLong, static_cast<unsigned long long>(out_size));
  } else if (status == Z_STREAM_END) {
    reason = FormatString(texts::kInflateShort, static_cast<unsigned long long>(given),
                    static_cast<unsigned long long>(out_size));
  } else if (status == Z_BUF_ERROR) {
    reason = texts::kInflateTruncated;
  } else {
    reason = FormatString(texts::kInflateCorrupt, message.c_str());
  }
  return false;
}

#if DWARFSIFT_HAVE_ZSTD
bool InflateZstd(const std::uint8_t* in, std::uint32_t in_size, std::uint8_t* out,
                 std::uint64_t out_size, std::string& reason) {
  std::uint8_t none = 0;
  const std::size_t given =
      ZSTD_decompress(out_size == 0 ? &none : out, out_size, in, in_size);
  if (!ZSTD_isError(given)) {
    if (given == out_size) return true;
    reason = FormatString(texts::kInflateShort, static_cast<unsigned long long>(given),
                    static_cast<unsigned long long>(out_size));
    return false;
  }
  switch (ZSTD_getErrorCode(given)) {
    case ZSTD_error_dstSize_tooSmall:
      reason = FormatString(texts::kInflateLong, static_cast<unsigned long long>(out_size));
      break;
    case ZSTD_error_srcSize_wrong:
      reason = texts::kInflateTruncated;
      break;
    default:
      reason = FormatString(texts::kInflateCorrupt, ZSTD_getErrorName(given));
  }
  return false;
}
#endif

}  // namespace

std::optional<CompressedStream> ReadCompressionHeader(ByteCursor section, bool gnu,
                                                      std::string& reason) {
  CompressedStream compressed;
  if (gnu) {
    // "ZLIB", then the plain size as 8 big-endian bytes.
    const std::uint8_t* magic = section.Take(4);
    std::uint64_t size = 0;
    for (int i = 0; i < 8; ++i) size = size << 8 | section.ReadByte();
    if (!section.ok()) {
      reason = texts::kInflateHeaderIncomplete;
      return std::nullopt;
    }
    if (std::string_view(reinterpret_cast<const char*>(magic), 4) != "ZLIB") {
      reason = texts::kInflateNoGnuMagic;
      return std::nullopt;
    }
    compressed.claimed_size = size;
  } else {
    // Elf32_Chdr: type, plain size, alignment.
    const std::uint32_t type = ReadFixed32(section);
    compressed.claimed_size = ReadFixed32(section);
    ReadFixed32(section);  // the alignment, which a copy in memory need not keep
    if (!section.ok()) {
      reason = texts::kInflateHeaderIncomplete;
      return std::nullopt;
    }
    if (type == kElfCompressZstd) {
      compressed.kind = Compression::kZstd;
#if !DWARFSIFT_HAVE_ZSTD
      reason = texts::kInflateNoZstd;
      return std::nullopt;
#endif
    } else if (type != kElfCompressZlib) {
      reason = FormatString(texts::kInflateUnknownType, type);
      return std::nullopt;
    }
  }
  compressed.stream = section.View(section.position(), section.end());
  return compressed;
}

bool InflateStream(const CompressedStream& compressed, std::uint8_t* out,
                   std::string& reason) {
  ByteCursor stream = compressed.stream;
  const std::uint32_t size = stream.remaining();
  const std::uint8_t* in = stream.Take(size);
  if (compressed.kind == Compression::kZlib) {
    return InflateZlib(in, size, out, compressed.claimed_size, reason);
  }
#if DWARFSIFT_HAVE_ZSTD
  return InflateZstd(in, size, out, compressed.claimed_size, reason);
#else
  reason = texts::kInflateNoZstd;
  return false;
#endif
}

}  // namespace dwarfsift
