#include "package/PackageFormat.h"

namespace {

TBlockDescriptor DecodeDescriptor(const uint8_t* p) {
  TBlockDescriptor d;
  d.offset = static_cast<int32_t>(LoadLE32(p));
  d.size = static_cast<int32_t>(LoadLE32(p + 4));
  d.md5.assign(reinterpret_cast<const char*>(p + 8), 32);
  return d;
}

void EncodeDescriptor(std::string& out, const TBlockDescriptor& d) {
  StoreLE32(out, static_cast<uint32_t>(d.offset));
  StoreLE32(out, static_cast<uint32_t>(d.size));
  std::string md5 = d.md5;
  md5.resize(32, '\0');
  out += md5;
}

}  // namespace

TPackageTrailer DecodeTrailer(const uint8_t bytes[TrailerSize]) {
  return {DecodeDescriptor(bytes), DecodeDescriptor(bytes + DescriptorSize), DecodeDescriptor(bytes + 2 * DescriptorSize)};
}

std::string EncodeTrailer(const TPackageTrailer& trailer) {
  std::string out;
  EncodeDescriptor(out, trailer.url);
  EncodeDescriptor(out, trailer.res);
  EncodeDescriptor(out, trailer.pos);
  return out;
}
