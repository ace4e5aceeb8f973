// Byte layout of the package appended to the launcher's executable: the
// configuration, skin and positions blocks, a 120-byte trailer of three block
// descriptors, and the 4-byte magic at the very end. Little-endian throughout.
#pragma once
#include <cstdint>
#include <string>

constexpr uint32_t PackageMagic = 0x12345678;
constexpr int DescriptorSize = 40;
constexpr int TrailerSize = 3 * DescriptorSize;
constexpr int TrailerAndMagicSize = TrailerSize + 4;
constexpr int ConfigBlockSize = 272;  // the shipped layout; longer texts get a longer block
constexpr int PositionEntryCount = 84;
constexpr int PositionsBlockSize = 2 * PositionEntryCount;

struct TBlockDescriptor {
  int32_t offset = 0;
  int32_t size = 0;
  std::string md5;  // 32 characters as stored, no terminator
};

struct TPackageTrailer {
  TBlockDescriptor url, res, pos;
};

TPackageTrailer DecodeTrailer(const uint8_t bytes[TrailerSize]);
std::string EncodeTrailer(const TPackageTrailer& trailer);

inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline void StoreLE32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
