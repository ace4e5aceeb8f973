// MD5 (RFC 1321) of memory blocks and files, always written as 32 lowercase
// hexadecimal digits, high nibble first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class TMd5 {
public:
  TMd5();
  void Update(const void* data, size_t length);
  // Finishes the digest; the object must not be updated afterwards.
  void Final(uint8_t digest[16]);
  std::string FinalHex();

private:
  void Blocks(const uint8_t* data, size_t count);
  uint32_t FState[4];
  uint64_t FLength = 0;
  uint8_t FBuffer[64];
  size_t FBuffered = 0;
};

std::string DigestToHex(const uint8_t digest[16]);
std::string MD5OfMemory(const void* data, size_t length);
inline std::string MD5OfMemory(const std::string& data) { return MD5OfMemory(data.data(), data.size()); }
// The file is read through a read-only mapping in views of at most 4 MiB.
// A file that cannot be opened or mapped, an empty one included, yields 32 "0".
std::string MD5OfFile(const std::string& path);

constexpr const char* ZeroDigest = "00000000000000000000000000000000";
