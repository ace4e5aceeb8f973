// The parent side of the skin controls: the controls of one window in
// component order (the composition order; later ones lie on top), and the
// routing of that window's mouse input to them. The window forwards its
// mouse messages here; the root tracks hover (disabled controls included, so
// a disabled button still shows it is under the mouse) and capture, sends
// down/up/click only to visible enabled controls (a press on a disabled one
// goes to the topmost enabled control under it, if any), and tells the
// window when a press fell on no enabled control (the window then starts
// dragging).
#pragma once
#include <windows.h>

#include <vector>

#include "skin/LGControl.h"

class TSkinRoot {
public:
  // Controls are owned by the window; the root keeps references in order.
  void Add(TLGControl& control);
  const std::vector<TLGControl*>& Controls() const { return FControls; }

  // Draws every control in order (ComposeChild), visible or not.
  void ComposeAll(GpGraphics* graphics);

  // Topmost visible control at the point, enabled ones only when asked.
  TLGControl* ControlAt(int x, int y, bool allowDisabled) const;
  // Mouse input in client coordinates; the controls get theirs relative to
  // their own top-left corner. MouseDown returns the control that
  // took the press, or nullptr when the press belongs to the window itself.
  void MouseMove(int x, int y);
  TLGControl* MouseDown(TMouseButton button, int x, int y);
  void MouseUp(TMouseButton button, int x, int y);
  void MouseLeaveWindow();
  // The window lost the mouse capture (WM_CAPTURECHANGED): no control holds
  // a press any more.
  void CaptureLost();
  // The control holding a press, or nullptr.
  TLGControl* Captured() const { return FCapture; }
  TLGControl* Hovered() const { return FHover; }
  // True when the control under the point wants the hand cursor.
  bool WantsHandCursor(int x, int y) const;
  // Forgets a control that is about to go (hover and capture included).
  void Remove(TLGControl& control);

  // A composed control's redraw request: LGM_REDRAW is posted to its window
  // once; later requests wait for that one, so the changes of one click or
  // one message are composed together.
  void RequestRedraw(TLGControl& control);
  // The window takes the posted LGM_REDRAW (and composes): the next request
  // posts again.
  void RedrawTaken() { FRedrawPosted = false; }

private:
  std::vector<TLGControl*> FControls;
  bool FRedrawPosted = false;
  TLGControl* FHover = nullptr;
  TLGControl* FCapture = nullptr;
};
