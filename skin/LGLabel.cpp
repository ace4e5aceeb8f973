#include "skin/LGLabel.h"

using namespace Gdiplus::DllExports;

TLGLabel::TLGLabel(HWND parent) : TLGControl(parent) {
  GdipSetStringFormatAlign(StringFormat(), Gdiplus::StringAlignmentCenter);
  GdipSetStringFormatLineAlign(StringFormat(), Gdiplus::StringAlignmentCenter);
}

void TLGLabel::SetWideText(const std::u16string& text) {
  if (text == FWideText) return;
  FWideText = text;
  Repaint();
}

void TLGLabel::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(*this);
}

void TLGLabel::MouseLeave() {
  if (OnMouseLeave) OnMouseLeave(*this);
}

void TLGLabel::DrawGraphics(GpGraphics* graphics) {
  if (!Visible || !graphics || FWideText.empty()) return;
  const uint32_t color = FontColorToArgb(Font.Color);
  GdipSetSolidFillColor(Brush(), color);
  Gdiplus::RectF rect(static_cast<float>(Left), static_cast<float>(Top), static_cast<float>(Width),
                      static_cast<float>(Height));
  // The label's weight does not follow its bold style.
  const TGpFontPtr font = CreateDrawFont(700, 0);
  if (!font) return;
  GdipSetStringFormatAlign(StringFormat(), static_cast<Gdiplus::StringAlignment>(LabelStringAlignment(Alignment)));
  GdipSetStringFormatLineAlign(StringFormat(), Gdiplus::StringAlignmentCenter);
  GdipSetTextRenderingHint(graphics, Gdiplus::TextRenderingHintAntiAlias);
  const WCHAR* text = reinterpret_cast<const WCHAR*>(FWideText.c_str());
  // Black shadow two pixels to the lower right, then the text itself.
  GdipSetSolidFillColor(Brush(), 0xFF000000);
  rect.X += 2;
  rect.Y += 2;
  GdipDrawString(graphics, text, -1, font.get(), &rect, StringFormat(), Brush());
  rect.X -= 2;
  rect.Y -= 2;
  GdipSetSolidFillColor(Brush(), color);
  GdipDrawString(graphics, text, -1, font.get(), &rect, StringFormat(), Brush());
}
