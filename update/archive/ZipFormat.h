// Record layouts of the PKWARE ZIP format (APPNOTE) that the reader and the
// writer share: signatures, fixed record sizes and little-endian access.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace zipformat {

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndSignature = 0x06054b50;
constexpr uint32_t Zip64EndSignature = 0x06064b50;
constexpr uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr uint32_t DataDescriptorSignature = 0x08074b50;

constexpr size_t LocalHeaderSize = 30;
constexpr size_t CentralHeaderSize = 46;
constexpr size_t EndSize = 22;
constexpr size_t Zip64EndSize = 56;
constexpr size_t Zip64LocatorSize = 20;
constexpr size_t MaxCommentSize = 0xFFFF;

constexpr uint16_t Zip64ExtraTag = 0x0001;
constexpr uint16_t UnicodePathExtraTag = 0x7075;

constexpr uint16_t FlagEncrypted = 0x0001;
constexpr uint16_t FlagDataDescriptor = 0x0008;
constexpr uint16_t FlagUtf8 = 0x0800;

constexpr uint16_t MethodStored = 0;
constexpr uint16_t MethodDeflated = 8;

constexpr uint32_t Max32 = 0xFFFFFFFF;
constexpr uint16_t Max16 = 0xFFFF;

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t* p) { return static_cast<uint32_t>(Get16(p)) | static_cast<uint32_t>(Get16(p + 2)) << 16; }
inline uint64_t Get64(const uint8_t* p) { return static_cast<uint64_t>(Get32(p)) | static_cast<uint64_t>(Get32(p + 4)) << 32; }

inline void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<uint16_t>(v >> 16));
}
inline void Put64(std::string& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v & 0xFFFFFFFF));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

}  // namespace zipformat
