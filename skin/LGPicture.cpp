#include "skin/LGPicture.h"

using namespace Gdiplus::DllExports;

TLGPicture::TLGPicture(HWND parent) : TLGControl(parent) {}

void TLGPicture::SetPicture(TGpBitmapPtr bitmap) {
  FPicture = std::move(bitmap);
  Repaint();
}

void TLGPicture::DrawGraphics(GpGraphics* graphics) {
  if (!Visible || !graphics || !FPicture) return;
  Gdiplus::GpImageAttributes* rawAttributes = nullptr;
  if (GdipCreateImageAttributes(&rawAttributes) != Gdiplus::Ok) return;
  const TGpImageAttributesPtr attributes(rawAttributes);
  GdipSetImageAttributesWrapMode(attributes.get(), Gdiplus::WrapModeTile, 0xFF000000, FALSE);
  UINT width = 0, height = 0;
  GdipGetImageWidth(FPicture.get(), &width);
  GdipGetImageHeight(FPicture.get(), &height);
  // The picture keeps its own size; the control's Width and Height play no part.
  GdipDrawImageRectRectI(graphics, FPicture.get(), Left, Top, static_cast<INT>(width), static_cast<INT>(height), 0, 0,
                         static_cast<INT>(width), static_cast<INT>(height), Gdiplus::UnitPixel, attributes.get(),
                         nullptr, nullptr);
}
