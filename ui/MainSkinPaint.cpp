// Composition: the background and every skin control drawn into one ARGB
// bitmap of the client size, which is then put on the window in one draw.
#include "platform/DebugOutput.h"
#include "ui/MainSkin.h"

namespace {

// The window's device context for one draw.
class TWindowDC {
public:
  explicit TWindowDC(HWND window) : FWindow(window), FDC(GetDC(window)) {}
  ~TWindowDC() {
    if (FDC) ReleaseDC(FWindow, FDC);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const { return FDC; }

private:
  HWND FWindow;
  HDC FDC;
};

}  // namespace

TGpBitmapPtr TfrmMainSkin::ComposeBitmap() {
  GpBitmap* raw = nullptr;
  if (Gdiplus::DllExports::GdipCreateBitmapFromScan0(FClientWidth, FClientHeight, 0, PixelFormat32bppARGB, nullptr,
                                                     &raw) != Gdiplus::Ok) {
    return nullptr;
  }
  TGpBitmapPtr bitmap(raw);
  GpGraphics* rawGraphics = nullptr;
  if (Gdiplus::DllExports::GdipGetImageGraphicsContext(bitmap.get(), &rawGraphics) != Gdiplus::Ok) return nullptr;
  TGpGraphicsPtr graphics(rawGraphics);
  ComposeInto(graphics.get());
  return bitmap;
}

void TfrmMainSkin::ComposeInto(GpGraphics* graphics) {
  if (FBackground) {
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(FBackground.get(), &width);
    Gdiplus::DllExports::GdipGetImageHeight(FBackground.get(), &height);
    // The background is the first layer on a transparent surface: copying
    // gives the same pixels as blending, without the blending's cost.
    Gdiplus::DllExports::GdipSetCompositingMode(graphics, Gdiplus::CompositingModeSourceCopy);
    Gdiplus::DllExports::GdipDrawImageRectI(graphics, FBackground.get(), 0, 0, static_cast<INT>(width),
                                            static_cast<INT>(height));
    Gdiplus::DllExports::GdipSetCompositingMode(graphics, Gdiplus::CompositingModeSourceOver);
  }
  SkinRoot.ComposeAll(graphics);
}

void TfrmMainSkin::PaintChilds() {
  if (FCompositionFailed || !Handle() || Hidden || Minimized()) return;
  TGpBitmapPtr bitmap = ComposeBitmap();
  if (!bitmap) {
    PaintFailure();
    return;
  }
  TWindowDC dc(Handle());
  GpGraphics* rawGraphics = nullptr;
  if (!dc.Get() || Gdiplus::DllExports::GdipCreateFromHDC(dc.Get(), &rawGraphics) != Gdiplus::Ok) {
    DebugOutput("PaintChilds: no graphics for the window");
    return;
  }
  TGpGraphicsPtr screen(rawGraphics);
  Gdiplus::DllExports::GdipDrawImageRectI(screen.get(), bitmap.get(), 0, 0, FClientWidth, FClientHeight);
}

void TfrmMainSkin::PaintFailure() {
  // Once is enough: the box's own message loop would otherwise run further
  // compositions that fail the same way and stack box upon box.
  FCompositionFailed = true;
  RunTimer.SetEnabled(false);
  UpdateTimer.SetEnabled(false);
  // "显示驱动初始化失败！" / "启动错误"
  ShowMessageBox("\xCF\xD4\xCA\xBE\xC7\xFD\xB6\xAF\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA3\xA1",
                 "\xC6\xF4\xB6\xAF\xB4\xED\xCE\xF3", MB_ICONWARNING);
  if (EndsApplication) PostQuitMessage(0);
}

void TfrmMainSkin::RequestComposition() {
  if (Handle()) InvalidateRect(Handle(), nullptr, FALSE);
}
