// Image button: one bitmap per state (normal, active, down, disable), drawn
// stretched into its bounds, and a wide text centred on it.
#pragma once
#include <array>
#include <string>

#include "skin/LGControl.h"

class TLGButton : public TLGControl {
public:
  explicit TLGButton(HWND parent);  // 60 x 20
  void DrawGraphics(GpGraphics* graphics) override;
  void MouseDown(TMouseButton button, int x, int y) override;
  void MouseUp(TMouseButton button, int x, int y) override;
  void MouseEnter() override;
  void MouseLeave() override;

  TLGButtonState GetState() const;
  // Takes ownership; replaces (frees) the bitmap held for the state; no repaint.
  void SetStateGlyph(TLGButtonState state, TGpBitmapPtr bitmap);
  void FreeGlyphs();
  bool HasGlyph(TLGButtonState state) const { return FGlyphs[state] != nullptr; }
  // Loads a four-frame horizontal strip from a file (the name itself, else
  // beside the program); an unknown file keeps the old bitmaps.
  void SetButtonGlyph(const std::string& fileName);
  const std::string& ButtonGlyph() const { return FButtonGlyph; }
  // Splits a four-frame strip into the four state bitmaps.
  void SplitGlyph(GpBitmap* bitmap, bool horizontal);
  // Stores and repaints only when the text differs.
  void SetWideText(const std::u16string& text);
  const std::u16string& WideText() const { return FWideText; }

private:
  bool FDown = false;
  bool FHover = false;
  std::string FButtonGlyph;
  std::array<TGpBitmapPtr, 4> FGlyphs;
  std::u16string FWideText;
};
