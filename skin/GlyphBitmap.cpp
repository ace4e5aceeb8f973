#include "skin/GlyphBitmap.h"

#include <cstring>
#include <memory>

#include "platform/CodePage.h"

using namespace Gdiplus::DllExports;

namespace {

struct THGlobalDeleter {
  void operator()(void* block) const { GlobalFree(static_cast<HGLOBAL>(block)); }
};
using THGlobalPtr = std::unique_ptr<void, THGlobalDeleter>;

struct TStreamReleaser {
  void operator()(IStream* stream) const { stream->Release(); }
};
using TStreamPtr = std::unique_ptr<IStream, TStreamReleaser>;

// A locked pixel area of a bitmap, unlocked on destruction.
class TLockedBits {
public:
  TLockedBits(GpBitmap* bitmap, UINT width, UINT height, UINT mode) : FBitmap(bitmap) {
    const Gdiplus::Rect area(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    FLocked = GdipBitmapLockBits(bitmap, &area, mode, PixelFormat32bppARGB, &FData) == Gdiplus::Ok;
  }
  ~TLockedBits() {
    if (FLocked) GdipBitmapUnlockBits(FBitmap, &FData);
  }
  TLockedBits(const TLockedBits&) = delete;
  TLockedBits& operator=(const TLockedBits&) = delete;
  bool Ok() const { return FLocked; }
  uint8_t* Row(UINT y) const { return static_cast<uint8_t*>(FData.Scan0) + static_cast<ptrdiff_t>(y) * FData.Stride; }

private:
  GpBitmap* FBitmap;
  Gdiplus::BitmapData FData{};
  bool FLocked = false;
};

// A copy of `source` in GDI+'s own memory, so that it no longer depends on
// the stream it was decoded from.
TGpBitmapPtr CopyToArgb(GpBitmap* source) {
  UINT width = 0, height = 0;
  GdipGetImageWidth(source, &width);
  GdipGetImageHeight(source, &height);
  if (width == 0 || height == 0) return nullptr;
  GpBitmap* raw = nullptr;
  if (GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0, PixelFormat32bppARGB, nullptr,
                                &raw) != Gdiplus::Ok)
    return nullptr;
  TGpBitmapPtr copy(raw);
  {
    const TLockedBits from(source, width, height, Gdiplus::ImageLockModeRead);
    const TLockedBits to(copy.get(), width, height, Gdiplus::ImageLockModeWrite);
    if (!from.Ok() || !to.Ok()) return nullptr;
    for (UINT y = 0; y < height; ++y) std::memcpy(to.Row(y), from.Row(y), static_cast<size_t>(width) * 4);
  }
  return copy;
}

}  // namespace

TGpBitmapPtr LoadBitmapFile(const std::string& path) {
  const std::u16string wide = Cp936ToUtf16(path);
  GpBitmap* bitmap = nullptr;
  if (GdipCreateBitmapFromFile(reinterpret_cast<const WCHAR*>(wide.c_str()), &bitmap) != Gdiplus::Ok) return nullptr;
  return TGpBitmapPtr(bitmap);
}

TGpBitmapPtr DecodeBitmap(const uint8_t* bytes, size_t size) {
  if (!bytes || size == 0) return nullptr;
  // The block, the stream over it and the decoded image are released in the
  // reverse order of their making on every path; only the copy survives.
  THGlobalPtr block(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!block) return nullptr;
  void* data = GlobalLock(block.get());
  if (!data) return nullptr;
  std::memcpy(data, bytes, size);
  GlobalUnlock(block.get());
  IStream* rawStream = nullptr;
  if (CreateStreamOnHGlobal(block.get(), FALSE, &rawStream) != S_OK) return nullptr;
  const TStreamPtr stream(rawStream);
  GpBitmap* rawDecoded = nullptr;
  if (GdipCreateBitmapFromStream(stream.get(), &rawDecoded) != Gdiplus::Ok) return nullptr;
  const TGpBitmapPtr decoded(rawDecoded);
  return CopyToArgb(decoded.get());
}
