#include "skin/SkinRoot.h"

#include <algorithm>

#include "common/WindowMessages.h"

void TSkinRoot::Add(TLGControl& control) {
  FControls.push_back(&control);
  control.FRoot = this;
}

void TSkinRoot::ComposeAll(GpGraphics* graphics) {
  for (TLGControl* control : FControls) ComposeChild(*control, graphics);
}

TLGControl* TSkinRoot::ControlAt(int x, int y, bool allowDisabled) const {
  // Later controls lie on top.
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
    TLGControl* control = *it;
    if (!control->Visible || (!control->Enabled && !allowDisabled)) continue;
    if (control->BoundsRect().Contains(x, y)) return control;
  }
  return nullptr;
}

void TSkinRoot::MouseMove(int x, int y) {
  // Disabled controls take part in hover, so a disabled button shows its
  // look while the mouse is over it.
  TLGControl* under = ControlAt(x, y, true);
  if (under == FHover) return;
  TLGControl* previous = FHover;
  FHover = under;
  if (previous) previous->MouseLeave();
  if (under) under->MouseEnter();
}

TLGControl* TSkinRoot::MouseDown(TMouseButton button, int x, int y) {
  TLGControl* control = ControlAt(x, y, false);
  if (!control) return nullptr;
  // The control keeps the mouse until the button comes up, so it learns of
  // a release outside its bounds.
  const HWND window = control->Parent();
  FCapture = control;
  if (window) SetCapture(window);
  control->MouseDown(button, x - control->Left, y - control->Top);
  // A handler that gave up the capture (the window drag does) ends it here:
  // its modal loop has eaten the release.
  if (window && GetCapture() != window) FCapture = nullptr;
  return control;
}

void TSkinRoot::MouseUp(TMouseButton button, int x, int y) {
  TLGControl* control = FCapture;
  if (!control) return;
  FCapture = nullptr;
  if (control->Parent() && GetCapture() == control->Parent()) ReleaseCapture();
  // Last: a click handler may close the window and with it this root.
  control->MouseUp(button, x - control->Left, y - control->Top);
}

void TSkinRoot::MouseLeaveWindow() {
  TLGControl* previous = FHover;
  FHover = nullptr;
  if (previous) previous->MouseLeave();
}

void TSkinRoot::CaptureLost() { FCapture = nullptr; }

bool TSkinRoot::WantsHandCursor(int x, int y) const {
  const TLGControl* control = ControlAt(x, y, false);
  return control && control->HandCursor;
}

void TSkinRoot::RequestRedraw(TLGControl& control) {
  if (FRedrawPosted || !control.Parent()) return;
  FRedrawPosted = PostMessageA(control.Parent(), LGM_REDRAW, reinterpret_cast<WPARAM>(&control), 0) != FALSE;
}

void TSkinRoot::Remove(TLGControl& control) {
  if (control.FRoot == this) control.FRoot = nullptr;
  FControls.erase(std::remove(FControls.begin(), FControls.end(), &control), FControls.end());
  if (FHover == &control) FHover = nullptr;
  if (FCapture == &control) FCapture = nullptr;
}
