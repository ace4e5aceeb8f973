#include "skin/LGButton.h"

#include <stdexcept>

#include "platform/CodePage.h"
#include "skin/GlyphBitmap.h"
#include "skin/logic/GlyphFile.h"

using namespace Gdiplus::DllExports;

TLGButton::TLGButton(HWND parent) : TLGControl(parent) {
  Width = 60;
  Height = 20;
}

TLGButtonState TLGButton::GetState() const { return ButtonState(Enabled, FDown, FHover); }

void TLGButton::SetStateGlyph(TLGButtonState state, TGpBitmapPtr bitmap) { FGlyphs[state] = std::move(bitmap); }

void TLGButton::FreeGlyphs() {
  for (TGpBitmapPtr& glyph : FGlyphs) glyph.reset();
}

void TLGButton::SetButtonGlyph(const std::string& fileName) {
  if (fileName == FButtonGlyph) return;
  FButtonGlyph = fileName;
  const std::optional<std::string> path = FindGlyphFile(fileName);
  if (!path) return;
  TGpBitmapPtr strip = LoadBitmapFile(*path);
  // A file that is no image is treated like a missing one: the old
  // bitmaps stay.
  if (!strip) return;
  FreeGlyphs();
  SplitGlyph(strip.get(), true);
  Repaint();
}

void TLGButton::SplitGlyph(GpBitmap* bitmap, bool horizontal) {
  if (!bitmap) throw std::invalid_argument("Assertion failed (LGButton): SplitGlyph needs a bitmap");
  FreeGlyphs();
  Gdiplus::PixelFormat format = 0;
  UINT width = 0, height = 0;
  GdipGetImagePixelFormat(bitmap, &format);
  GdipGetImageWidth(bitmap, &width);
  GdipGetImageHeight(bitmap, &height);
  for (int frame = 0; frame < 4; ++frame) {
    const TRectI area = GlyphFrame(static_cast<int>(width), static_cast<int>(height), frame, horizontal);
    GpBitmap* copy = nullptr;
    if (GdipCloneBitmapAreaI(area.X, area.Y, area.Width, area.Height, format, bitmap, &copy) == Gdiplus::Ok)
      FGlyphs[frame].reset(copy);
  }
}

void TLGButton::SetWideText(const std::u16string& text) {
  if (text == FWideText) return;
  FWideText = text;
  Repaint();
}

void TLGButton::DrawGraphics(GpGraphics* graphics) {
  if (!Visible || !graphics) return;
  GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeNearestNeighbor);
  const TLGButtonState state = GetState();
  const bool held[4] = {HasGlyph(lgsNormal), HasGlyph(lgsActive), HasGlyph(lgsDown), HasGlyph(lgsDisable)};
  if (const std::optional<TLGButtonState> shown = GlyphToDraw(state, held)) {
    GpBitmap* glyph = FGlyphs[*shown].get();
    UINT width = 0, height = 0;
    GdipGetImageWidth(glyph, &width);
    GdipGetImageHeight(glyph, &height);
    GdipDrawImageRectRectI(graphics, glyph, Left, Top, Width, Height, 0, 0, static_cast<INT>(width),
                           static_cast<INT>(height), Gdiplus::UnitPixel, nullptr, nullptr, nullptr);
  }
  if (FWideText.empty()) return;
  GdipSetSolidFillColor(Brush(), FontColorToArgb(Font.Color));
  const TRectF box = ButtonTextRect(BoundsRect(), state);
  const Gdiplus::RectF rect(box.X, box.Y, box.Width, box.Height);
  GdipSetStringFormatAlign(StringFormat(), Gdiplus::StringAlignmentCenter);
  GdipSetStringFormatLineAlign(StringFormat(), Gdiplus::StringAlignmentCenter);
  const TGpFontPtr font = CreateDrawFont(0, Font.Bold ? 1000 : 0);
  if (!font) return;
  GdipDrawString(graphics, reinterpret_cast<const WCHAR*>(FWideText.c_str()), -1, font.get(), &rect, StringFormat(),
                 Brush());
}

void TLGButton::MouseDown(TMouseButton button, int x, int y) {
  TLGControl::MouseDown(button, x, y);
  if (button != mbLeft) return;
  FDown = true;
  Repaint();
}

void TLGButton::MouseUp(TMouseButton button, int x, int y) {
  TLGControl::MouseUp(button, x, y);
  if (button != mbLeft) return;
  FDown = false;
  Repaint();
}

void TLGButton::MouseEnter() {
  TLGControl::MouseEnter();
  FHover = true;
  Repaint();
}

void TLGButton::MouseLeave() {
  TLGControl::MouseLeave();
  FHover = false;
  Repaint();
}
