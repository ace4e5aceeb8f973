// Horizontal progress bar of up to three images: a tiled background, a fill
// whose length follows Position / Max, and a cap riding on the fill's end.
#pragma once
#include <string>

#include "skin/LGControl.h"

class TLGProgress2 : public TLGControl {
public:
  explicit TLGProgress2(HWND parent);  // Max 100
  void DrawGraphics(GpGraphics* graphics) override;

  // Each takes ownership, frees the previous bitmap, repaints.
  void SetStepBitmap(TGpBitmapPtr bitmap);
  void SetBorderBitmap(TGpBitmapPtr bitmap);
  void SetBkgBitmap(TGpBitmapPtr bitmap);
  // File setters: an unknown file changes neither name nor bitmap.
  void SetStepGlyph(const std::string& fileName);
  void SetBorderGlyph(const std::string& fileName);
  void SetBkgGlyph(const std::string& fileName);

  // Range setters keep 0 <= Min < Max, Min <= Position <= Max; a value that
  // would break that is ignored; a change repaints.
  void SetPosition(int64_t value);
  void SetMax(int64_t value);
  void SetMin(int64_t value);
  int64_t Position() const { return FRange.Position; }
  int64_t Max() const { return FRange.Max; }
  int64_t Min() const { return FRange.Min; }
  int XOffset = 0;  // plain field: no repaint

private:
  TProgressRange FRange;
  std::string FStepGlyph, FBorderGlyph, FBkgGlyph;
  TGpBitmapPtr FStep, FBorder, FBkg;
};
