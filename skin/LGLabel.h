// Shadowed text label: draws only its wide text, with a black shadow two
// pixels to the lower right; centred or near by its alignment.
#pragma once
#include <string>

#include "skin/LGControl.h"

class TLGLabel : public TLGControl {
public:
  explicit TLGLabel(HWND parent);
  void DrawGraphics(GpGraphics* graphics) override;
  // Only the label's own enter/leave events; no repaint.
  void MouseEnter() override;
  void MouseLeave() override;
  // Stores and repaints only when the text differs.
  void SetWideText(const std::u16string& text);
  const std::u16string& WideText() const { return FWideText; }

private:
  std::u16string FWideText;
};
