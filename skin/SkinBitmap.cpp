#include "skin/SkinBitmap.h"

#include <cstring>

#include "common/Log.h"
#include "package/PackageReader.h"
#include "platform/File.h"

namespace {

// Makes a bitmap from the record's bytes through a COM stream over a fixed
// global block. The stream does not own the block, and the block is never
// freed: GDI+ may read the image data for as long as the bitmap lives, and
// skin bitmaps live as long as the process.
GpBitmap* BitmapFromBytes(const std::vector<uint8_t>& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, bytes.size());
  if (!block) return nullptr;
  std::memcpy(reinterpret_cast<void*>(block), bytes.data(), bytes.size());
  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(block, FALSE, &stream) != S_OK) return nullptr;
  LogError("3load img create istream begin");
  GpBitmap* bitmap = nullptr;
  if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &bitmap) != Gdiplus::Ok) bitmap = nullptr;
  LogError("4load img create istream begin");
  GlobalUnlock(block);
  stream->Release();
  LogError("5load img create istream begin");
  return bitmap;
}

}  // namespace

GpBitmap* ReadSkinBitmapFrom(const std::string& exePath, int32_t resoffset, int32_t ressize, const std::string& label,
                             int32_t& cursor) {
  TPackageLocations locations;
  locations.resoffset = resoffset;
  locations.ressize = ressize;
  GpBitmap* bitmap = nullptr;
  ReadSkinImageFrom(exePath, locations, label, cursor, [&](std::vector<uint8_t>& bytes) {
    bitmap = BitmapFromBytes(bytes);
    return bitmap != nullptr;
  });
  return bitmap;
}

GpBitmap* ReadSkinBitmap(const std::string& label, int32_t& cursor) {
  return ReadSkinBitmapFrom(GetModuleFilePath(), PackageLocations.resoffset, PackageLocations.ressize, label, cursor);
}
