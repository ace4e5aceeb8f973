// A picture drawn at its natural size from the control's top-left corner.
#pragma once
#include "skin/LGControl.h"

class TLGPicture : public TLGControl {
public:
  explicit TLGPicture(HWND parent);
  void DrawGraphics(GpGraphics* graphics) override;
  // Takes ownership, frees the previous picture, repaints.
  void SetPicture(TGpBitmapPtr bitmap);
  bool HasPicture() const { return FPicture != nullptr; }

private:
  TGpBitmapPtr FPicture;
};
