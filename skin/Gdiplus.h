// The GDI+ flat API as the skin uses it.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

using Gdiplus::GpBitmap;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::GpStatus;

// Starts GDI+ for the life of the object.
class TGdiplusSession {
public:
  TGdiplusSession();
  ~TGdiplusSession();
  bool Ok() const { return FToken != 0; }

private:
  ULONG_PTR FToken = 0;
};
