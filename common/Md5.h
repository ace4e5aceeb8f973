// MD5 (RFC 1321) of memory blocks and files, always written as 32 lowercase
// hexadecimal digits, high nibble first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
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
// The same, asking `stopped` between views: empty when it said to stop.
std::string MD5OfFile(const std::string& path, const std::function<bool()>& stopped);

constexpr const char* ZeroDigest = "00000000000000000000000000000000";
constexpr const char* EmptyInputMd5 = "d41d8cd98f00b204e9800998ecf8427e";

// The two spellings of the empty file's digest, in any letter case: 32 "0"
// (the file digest of an empty file) and the MD5 of empty input.
bool IsEmptyDigest(const std::string& digest);
