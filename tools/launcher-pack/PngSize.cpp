#include "tools/launcher-pack/PngSize.h"

#include <zlib.h>

#include <cstring>

namespace {

const uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// Signature, chunk length and type, 13 header bytes and the chunk's CRC.
constexpr size_t HeaderEnd = 8 + 8 + 13 + 4;
constexpr uint32_t MaxDimension = 0x7FFFFFFF;

uint32_t LoadBE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}

}  // namespace

std::optional<TPngSize> ReadPngSize(const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (length < HeaderEnd || std::memcmp(p, PngSignature, sizeof PngSignature) != 0) return std::nullopt;
  if (LoadBE32(p + 8) != 13 || std::memcmp(p + 12, "IHDR", 4) != 0) return std::nullopt;
  // The checksum covers the chunk type and its data.
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), p + 12, 4 + 13);
  if (LoadBE32(p + 29) != static_cast<uint32_t>(crc)) return std::nullopt;
  const TPngSize size{LoadBE32(p + 16), LoadBE32(p + 20)};
  if (size.width == 0 || size.height == 0 || size.width > MaxDimension || size.height > MaxDimension)
    return std::nullopt;
  return size;
}
