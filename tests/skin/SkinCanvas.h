// Helpers of the Windows suite's skin tests (GDI+ under Wine): a 32-bit ARGB
// surface to draw controls into and read back, solid and striped bitmaps,
// and a hidden window that receives the controls' redraw requests. Header
// only, included by tests/win32 only.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/Window.h"
#include "skin/GdiplusObjects.h"
#include "skin/GlyphBitmap.h"
#include "support/PngEncoder.h"

namespace skintest {

using namespace Gdiplus::DllExports;

struct TBox {
  int Left = INT32_MAX, Top = INT32_MAX, Right = INT32_MIN, Bottom = INT32_MIN;  // inclusive
  bool Empty() const { return Left > Right; }
};

// GDI+ runs for each test; the controls of a test are its locals, so they
// go before it stops.
class TSkinTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(FSession.Ok()); }

private:
  TGdiplusSession FSession;
};

// A transparent ARGB surface with its graphics, as the main window composes.
class TCanvas {
public:
  TCanvas(int width, int height) : FWidth(width), FHeight(height) {
    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap);
    FBitmap.reset(bitmap);
    GpGraphics* graphics = nullptr;
    if (bitmap) GdipGetImageGraphicsContext(bitmap, &graphics);
    FGraphics.reset(graphics);
  }
  GpGraphics* Graphics() const { return FGraphics.get(); }
  GpBitmap* Bitmap() const { return FBitmap.get(); }
  bool Ok() const { return FGraphics != nullptr; }
  uint32_t Pixel(int x, int y) const {
    Gdiplus::ARGB color = 0;
    GdipBitmapGetPixel(FBitmap.get(), x, y, &color);
    return color;
  }
  std::vector<uint32_t> Pixels() const {
    std::vector<uint32_t> all;
    for (int y = 0; y < FHeight; ++y)
      for (int x = 0; x < FWidth; ++x) all.push_back(Pixel(x, y));
    return all;
  }
  // Bounding box of the pixels for which `keep(argb)` holds.
  template <typename TKeep>
  TBox BoxOf(TKeep keep) const {
    TBox box;
    for (int y = 0; y < FHeight; ++y)
      for (int x = 0; x < FWidth; ++x)
        if (keep(Pixel(x, y))) {
          box.Left = std::min(box.Left, x);
          box.Top = std::min(box.Top, y);
          box.Right = std::max(box.Right, x);
          box.Bottom = std::max(box.Bottom, y);
        }
    return box;
  }
  int CountOf(uint32_t argb) const {
    int count = 0;
    for (uint32_t pixel : Pixels()) count += pixel == argb;
    return count;
  }

private:
  int FWidth, FHeight;
  TGpBitmapPtr FBitmap;
  TGpGraphicsPtr FGraphics;
};

// A solid bitmap decoded from a real PNG. `argb` is 0xAARRGGBB.
inline TGpBitmapPtr SolidBitmap(int width, int height, uint32_t argb) {
  const std::string png = EncodeSolidPng(width, height, (argb << 8) | (argb >> 24));
  return DecodeBitmap(reinterpret_cast<const uint8_t*>(png.data()), png.size());
}

// A bitmap of equal vertical stripes, one per colour, left to right.
inline TGpBitmapPtr StripedBitmap(int width, int height, const std::vector<uint32_t>& colours) {
  TCanvas canvas(width, height);
  const int stripe = width / static_cast<int>(colours.size());
  for (size_t k = 0; k < colours.size(); ++k) {
    Gdiplus::GpSolidFill* brush = nullptr;
    GdipCreateSolidFill(colours[k], &brush);
    const TGpSolidBrushPtr owned(brush);
    GdipFillRectangleI(canvas.Graphics(), brush, static_cast<INT>(k) * stripe, 0, stripe, height);
  }
  GpImage* copy = nullptr;
  GdipCloneImage(canvas.Bitmap(), &copy);
  return TGpBitmapPtr(static_cast<GpBitmap*>(copy));
}

inline bool SavePng(GpBitmap* bitmap, const std::string& path) {
  // The PNG encoder of GDI+.
  const CLSID png = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
  const std::wstring wide(path.begin(), path.end());
  return GdipSaveImageToFile(bitmap, wide.c_str(), &png, nullptr) == Gdiplus::Ok;
}

// A hidden top-level window of its own class, destroyed with the object.
class THiddenWindow {
public:
  THiddenWindow() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterWindowClass(instance, {"SkinTestParent", DefWindowProcA});
    FWindow.Reset(CreateWindowExA(0, "SkinTestParent", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, instance,
                                  nullptr));
  }
  THiddenWindow(const THiddenWindow&) = delete;
  THiddenWindow& operator=(const THiddenWindow&) = delete;
  HWND Handle() const { return FWindow.Get(); }
  // Windows need a display: run the Windows suite under xvfb-run.
  bool Ok() const { return FWindow.Get() != nullptr; }
  // Shows the window without activating it (a hidden window keeps no
  // update region) and lets it paint once.
  void Show() const {
    ShowWindow(FWindow.Get(), SW_SHOWNOACTIVATE);
    UpdateWindow(FWindow.Get());
    ValidateRect(FWindow.Get(), nullptr);
  }
  // Removes and returns the posted messages `message` of this window.
  std::vector<MSG> Take(UINT message) const {
    std::vector<MSG> taken;
    MSG msg;
    while (PeekMessageA(&msg, FWindow.Get(), message, message, PM_REMOVE)) taken.push_back(msg);
    return taken;
  }

private:
  TWindowHandle FWindow;
};

}  // namespace skintest
