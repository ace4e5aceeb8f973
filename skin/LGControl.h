// Base of the windowless skin controls. A control keeps the bookkeeping of an
// ordinary control (bounds, visibility, enabled state, font, alignment,
// cursor, mouse events, click) and draws itself only through DrawGraphics,
// in the coordinates of its parent's client area, onto the surface that the
// parent composes. The parent owns painting, hover, capture and cursor
// (TSkinRoot); a control never paints on its own once composed, it asks the
// parent to compose again.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "skin/GdiplusObjects.h"
#include "skin/logic/SkinGeometry.h"

class TLGControl;
class TSkinRoot;
using TNotifyEvent = std::function<void(TLGControl& sender)>;
enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TMouseEvent = std::function<void(TLGControl& sender, TMouseButton button, int x, int y)>;

// Font of a control: name in code page 936, whole point size, colour as
// 0x00BBGGRR, bold style.
struct TSkinFont {
  std::string Name;
  int Size = 9;
  uint32_t Color = 0;
  bool Bold = false;
};

class TLGControl {
public:
  // `parent` receives the posted redraw request (LGM_REDRAW, wParam = the
  // control) once the control has been composed; before that a redraw
  // request invalidates the control's area of the parent.
  explicit TLGControl(HWND parent);
  virtual ~TLGControl();
  TLGControl(const TLGControl&) = delete;
  TLGControl& operator=(const TLGControl&) = delete;

  // Draws at Left/Top in parent coordinates; nothing when not visible.
  virtual void DrawGraphics(GpGraphics* graphics) = 0;
  // Redraw request: before the first composition the parent's area of the
  // control is invalidated; afterwards LGM_REDRAW is posted to the parent,
  // through the control's root when it has one (the root posts once until
  // the window composes). The setters below call it; callers do not.
  void Repaint();

  // Mouse notifications from the parent (TSkinRoot), in the control's own
  // coordinates (0, 0 at its top-left corner). The defaults fire the
  // events; buttons and labels override as their rules say.
  virtual void MouseDown(TMouseButton button, int x, int y);
  virtual void MouseUp(TMouseButton button, int x, int y);  // fires OnClick when released over the control
  virtual void MouseEnter();
  virtual void MouseLeave();

  TRectI BoundsRect() const { return {Left, Top, Width, Height}; }
  void SetBounds(int left, int top, int width, int height);
  // Visibility and enabled state, with a redraw request when they change.
  void SetVisible(bool visible);
  void SetEnabled(bool enabled);
  bool ParentDrawn() const { return FParentDrawn; }
  HWND Parent() const { return FParent; }

  // Plain state; assigning these does not repaint (the next composition
  // shows it; SetVisible and SetEnabled ask for one).
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Visible = true;
  bool Enabled = true;
  int Tag = 0;
  TAlignment Alignment = taLeftJustify;
  TSkinFont Font;            // "宋体", 9 points by default
  bool HandCursor = false;   // the hand-point cursor over the control
  std::string Caption;       // kept, never drawn by a skin control
  std::string Name;          // component name, for logs and tests

  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;

protected:
  // The GDI+ font of `Font` for one text draw (created on the screen DC from
  // a LOGFONT with the given width and weight), or nothing on failure.
  TGpFontPtr CreateDrawFont(int lfWidth, int lfWeight) const;
  Gdiplus::GpStringFormat* StringFormat() const;
  Gdiplus::GpSolidFill* Brush() const;

private:
  friend void ComposeChild(TLGControl& control, GpGraphics* graphics);
  friend class TSkinRoot;
  HWND FParent;
  TSkinRoot* FRoot = nullptr;  // set while the control is in a root
  bool FParentDrawn = false;
  void EnsureDrawObjects() const;
  mutable TGpStringFormatPtr FStringFormat;  // no wrap, ellipsis trimming, near
  mutable TGpSolidBrushPtr FBrush;           // opaque white
};

// Marks the control parent-drawn and lets it draw itself.
void ComposeChild(TLGControl& control, GpGraphics* graphics);
