// Owners of GDI+ objects: each flat-API object has exactly one owner, a
// unique_ptr with the matching delete call. Nothing owning crosses an
// interface raw.
#pragma once
#include <memory>

#include "skin/Gdiplus.h"

struct TGpImageDeleter {
  void operator()(GpImage* image) const { Gdiplus::DllExports::GdipDisposeImage(image); }
};
struct TGpGraphicsDeleter {
  void operator()(GpGraphics* graphics) const { Gdiplus::DllExports::GdipDeleteGraphics(graphics); }
};
struct TGpBrushDeleter {
  void operator()(Gdiplus::GpBrush* brush) const { Gdiplus::DllExports::GdipDeleteBrush(brush); }
};
struct TGpStringFormatDeleter {
  void operator()(Gdiplus::GpStringFormat* format) const { Gdiplus::DllExports::GdipDeleteStringFormat(format); }
};
struct TGpFontDeleter {
  void operator()(Gdiplus::GpFont* font) const { Gdiplus::DllExports::GdipDeleteFont(font); }
};
struct TGpImageAttributesDeleter {
  void operator()(Gdiplus::GpImageAttributes* attributes) const {
    Gdiplus::DllExports::GdipDisposeImageAttributes(attributes);
  }
};

// A bitmap is disposed as an image.
using TGpBitmapPtr = std::unique_ptr<GpBitmap, TGpImageDeleter>;
using TGpGraphicsPtr = std::unique_ptr<GpGraphics, TGpGraphicsDeleter>;
using TGpSolidBrushPtr = std::unique_ptr<Gdiplus::GpSolidFill, TGpBrushDeleter>;
using TGpStringFormatPtr = std::unique_ptr<Gdiplus::GpStringFormat, TGpStringFormatDeleter>;
using TGpFontPtr = std::unique_ptr<Gdiplus::GpFont, TGpFontDeleter>;
using TGpImageAttributesPtr = std::unique_ptr<Gdiplus::GpImageAttributes, TGpImageAttributesDeleter>;
