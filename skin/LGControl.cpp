#include "skin/LGControl.h"

#include <cstring>

#include "common/WindowMessages.h"
#include "skin/SkinFont.h"
#include "skin/SkinRoot.h"

namespace {

// "宋体"
constexpr char DefaultFontName[] = "\xCB\xCE\xCC\xE5";

}  // namespace

TLGControl::TLGControl(HWND parent) : FParent(parent) {
  Font.Name = DefaultFontName;
  Font.Size = 9;
  EnsureDrawObjects();
}

TLGControl::~TLGControl() = default;

// The string format and brush belong to the control for its whole life. A
// control made before GDI+ was started gets them at its first draw.
void TLGControl::EnsureDrawObjects() const {
  if (!FStringFormat) {
    Gdiplus::GpStringFormat* format = nullptr;
    if (Gdiplus::DllExports::GdipCreateStringFormat(Gdiplus::StringFormatFlagsNoWrap, 0, &format) == Gdiplus::Ok) {
      FStringFormat.reset(format);
      Gdiplus::DllExports::GdipSetStringFormatTrimming(format, Gdiplus::StringTrimmingEllipsisCharacter);
      Gdiplus::DllExports::GdipSetStringFormatAlign(format, Gdiplus::StringAlignmentNear);
    }
  }
  if (!FBrush) {
    Gdiplus::GpSolidFill* brush = nullptr;
    if (Gdiplus::DllExports::GdipCreateSolidFill(0xFFFFFFFF, &brush) == Gdiplus::Ok) FBrush.reset(brush);
  }
}

Gdiplus::GpStringFormat* TLGControl::StringFormat() const {
  EnsureDrawObjects();
  return FStringFormat.get();
}

Gdiplus::GpSolidFill* TLGControl::Brush() const {
  EnsureDrawObjects();
  return FBrush.get();
}

void TLGControl::Repaint() {
  if (!FParent) return;
  if (!FParentDrawn) {
    // Not composed yet: the parent's next paint composes the control.
    const RECT area{Left, Top, Left + Width, Top + Height};
    InvalidateRect(FParent, &area, FALSE);
    return;
  }
  // Composed once: the parent composes the whole window again. Posted, so a
  // change made during a composition cannot re-enter it; the root posts one
  // request for all the changes until the window composes.
  if (FRoot) {
    FRoot->RequestRedraw(*this);
    return;
  }
  PostMessageA(FParent, LGM_REDRAW, reinterpret_cast<WPARAM>(this), 0);
}

void TLGControl::SetVisible(bool visible) {
  if (Visible == visible) return;
  Visible = visible;
  Repaint();
}

void TLGControl::SetEnabled(bool enabled) {
  if (Enabled == enabled) return;
  Enabled = enabled;
  Repaint();
}

void TLGControl::MouseDown(TMouseButton button, int x, int y) {
  if (OnMouseDown) OnMouseDown(*this, button, x, y);
}

void TLGControl::MouseUp(TMouseButton button, int x, int y) {
  const bool over = x >= 0 && y >= 0 && x < Width && y < Height;
  if (OnMouseUp) OnMouseUp(*this, button, x, y);
  if (button == mbLeft && over && OnClick) OnClick(*this);
}

void TLGControl::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(*this);
}

void TLGControl::MouseLeave() {
  if (OnMouseLeave) OnMouseLeave(*this);
}

void TLGControl::SetBounds(int left, int top, int width, int height) {
  Left = left;
  Top = top;
  Width = width;
  Height = height;
}

TGpFontPtr TLGControl::CreateDrawFont(int lfWidth, int lfWeight) const {
  return CreateSkinFont(Font.Name, Font.Size, lfWidth, lfWeight);
}

void ComposeChild(TLGControl& control, GpGraphics* graphics) {
  control.FParentDrawn = true;
  control.DrawGraphics(graphics);
}
