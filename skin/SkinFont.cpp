#include "skin/SkinFont.h"

#include <cstring>

#include "skin/logic/SkinGeometry.h"

namespace {

// The screen device context, held for one font creation.
class TScreenDC {
public:
  TScreenDC() : FDC(GetDC(nullptr)) {}
  ~TScreenDC() {
    if (FDC) ReleaseDC(nullptr, FDC);
  }
  TScreenDC(const TScreenDC&) = delete;
  TScreenDC& operator=(const TScreenDC&) = delete;
  HDC Get() const { return FDC; }

private:
  HDC FDC;
};

}  // namespace

TGpFontPtr CreateSkinFont(const std::string& faceName, int pointSize, int lfWidth, int lfWeight) {
  LOGFONTA logFont;
  std::memset(&logFont, 0, sizeof logFont);
  logFont.lfHeight = LogFontHeight(pointSize);
  logFont.lfWidth = lfWidth;
  logFont.lfWeight = lfWeight;
  logFont.lfCharSet = DEFAULT_CHARSET;
  logFont.lfQuality = ANTIALIASED_QUALITY;
  std::strncpy(logFont.lfFaceName, faceName.c_str(), LF_FACESIZE - 1);
  TScreenDC screen;
  Gdiplus::GpFont* font = nullptr;
  if (Gdiplus::DllExports::GdipCreateFontFromLogfontA(screen.Get(), &logFont, &font) != Gdiplus::Ok) return nullptr;
  return TGpFontPtr(font);
}
