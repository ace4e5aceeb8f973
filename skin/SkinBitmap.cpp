#include "skin/SkinBitmap.h"

#include "common/Log.h"
#include "package/PackageReader.h"
#include "skin/GlyphBitmap.h"

// The record's bytes are decoded into a bitmap that holds its own pixels
// (DecodeBitmap), so the memory block and stream used for decoding are freed
// at once instead of living as long as the process.
TGpBitmapPtr ReadSkinBitmapFrom(const std::string& exePath, int32_t resoffset, int32_t ressize,
                                const std::string& label, int32_t& cursor) {
  TPackageLocations locations;
  locations.resoffset = resoffset;
  locations.ressize = ressize;
  TGpBitmapPtr bitmap;
  ReadSkinImageFrom(exePath, locations, label, cursor, [&](std::vector<uint8_t>& bytes) {
    LogError("3load img create istream begin");
    bitmap = DecodeBitmap(bytes.data(), bytes.size());
    LogError("4load img create istream begin");
    LogError("5load img create istream begin");
    return bitmap != nullptr;
  });
  return bitmap;
}
