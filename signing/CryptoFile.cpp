// The portable side of the digests: whole inputs and files through the
// backend's stream, the hexadecimal form manifests use.
#include <algorithm>
#include <vector>

#include "platform/File.h"
#include "signing/Crypto.h"
#include "signing/TextCodec.h"

namespace {

constexpr size_t ReadBlock = 1 << 20;

}  // namespace

bool Sha256(std::string_view bytes, TSha256& out) {
  TSha256Stream stream;
  stream.Update(bytes.data(), bytes.size());
  return stream.Final(out);
}

std::string TSha256Stream::FinalHex() {
  TSha256 digest{};
  return Final(digest) ? HexLower(digest.data(), digest.size()) : std::string();
}

std::string Sha256Hex(std::string_view bytes) {
  TSha256Stream stream;
  stream.Update(bytes.data(), bytes.size());
  return stream.FinalHex();
}

std::string Sha256OfFile(const std::string& path, const std::function<bool()>& stopped) {
  try {
    TFileStream file(path, TFileMode::ReadShared);
    const int64_t size = file.Size();
    std::vector<char> buffer(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(size, 1), ReadBlock)));
    TSha256Stream stream;
    // The size when opened is the length digested; a file cut short gives none.
    for (int64_t done = 0; done < size;) {
      if (stopped && stopped()) return std::string();
      const size_t count = file.Read(buffer.data(), static_cast<size_t>(std::min<int64_t>(buffer.size(), size - done)));
      if (count == 0) return std::string();
      stream.Update(buffer.data(), count);
      done += static_cast<int64_t>(count);
    }
    return stream.FinalHex();
  } catch (const EFileError&) {
    return std::string();
  }
}

bool IsSha256Text(const std::string& text) {
  uint8_t digest[32];
  return DecodeHexLower(text, digest, sizeof digest);
}
