#include "skin/LGProgress2.h"

#include "skin/GlyphBitmap.h"
#include "skin/logic/GlyphFile.h"

using namespace Gdiplus::DllExports;

namespace {

// "宋体"
constexpr char DefaultFontName[] = "\xCB\xCE\xCC\xE5";

std::optional<TSizeI> SizeOf(const TGpBitmapPtr& bitmap) {
  if (!bitmap) return std::nullopt;
  UINT width = 0, height = 0;
  GdipGetImageWidth(bitmap.get(), &width);
  GdipGetImageHeight(bitmap.get(), &height);
  return TSizeI{static_cast<int>(width), static_cast<int>(height)};
}

void DrawPlaced(GpGraphics* graphics, GpBitmap* bitmap, const TImagePlacement& placed,
                Gdiplus::GpImageAttributes* attributes) {
  // An empty area shows nothing; GDI+ would only refuse it.
  if (placed.Dest.Width <= 0 || placed.Dest.Height <= 0 || placed.Source.Width <= 0) return;
  GdipDrawImageRectRect(graphics, bitmap, placed.Dest.X, placed.Dest.Y, placed.Dest.Width, placed.Dest.Height,
                        placed.Source.X, placed.Source.Y, placed.Source.Width, placed.Source.Height,
                        Gdiplus::UnitPixel, attributes, nullptr, nullptr);
}

// Loads a glyph file found by its name or beside the program.
TGpBitmapPtr LoadGlyphFile(const std::string& fileName) {
  const std::optional<std::string> path = FindGlyphFile(fileName);
  return path ? LoadBitmapFile(*path) : nullptr;
}

}  // namespace

TLGProgress2::TLGProgress2(HWND parent) : TLGControl(parent) {
  Font.Name = DefaultFontName;
  Font.Size = 9;
}

void TLGProgress2::SetStepBitmap(TGpBitmapPtr bitmap) {
  FStep = std::move(bitmap);
  Repaint();
}

void TLGProgress2::SetBorderBitmap(TGpBitmapPtr bitmap) {
  FBorder = std::move(bitmap);
  Repaint();
}

void TLGProgress2::SetBkgBitmap(TGpBitmapPtr bitmap) {
  FBkg = std::move(bitmap);
  Repaint();
}

void TLGProgress2::SetStepGlyph(const std::string& fileName) {
  if (fileName == FStepGlyph) return;
  if (TGpBitmapPtr bitmap = LoadGlyphFile(fileName)) {
    FStepGlyph = fileName;
    SetStepBitmap(std::move(bitmap));
  }
}

void TLGProgress2::SetBorderGlyph(const std::string& fileName) {
  if (fileName == FBorderGlyph) return;
  if (TGpBitmapPtr bitmap = LoadGlyphFile(fileName)) {
    FBorderGlyph = fileName;
    SetBorderBitmap(std::move(bitmap));
  }
}

void TLGProgress2::SetBkgGlyph(const std::string& fileName) {
  if (fileName == FBkgGlyph) return;
  if (TGpBitmapPtr bitmap = LoadGlyphFile(fileName)) {
    FBkgGlyph = fileName;
    SetBkgBitmap(std::move(bitmap));
  }
}

void TLGProgress2::SetPosition(int64_t value) {
  if (FRange.SetPosition(value)) Repaint();
}

void TLGProgress2::SetMax(int64_t value) {
  if (FRange.SetMax(value)) Repaint();
}

void TLGProgress2::SetMin(int64_t value) {
  if (FRange.SetMin(value)) Repaint();
}

void TLGProgress2::DrawGraphics(GpGraphics* graphics) {
  if (!Visible || !graphics || !FStep) return;
  const TProgressLayout layout =
      LayoutProgress(BoundsRect(), XOffset, FRange.Position, FRange.Max, SizeOf(FBkg), SizeOf(FStep), SizeOf(FBorder));
  Gdiplus::GpImageAttributes* rawAttributes = nullptr;
  if (GdipCreateImageAttributes(&rawAttributes) != Gdiplus::Ok) return;
  const TGpImageAttributesPtr attributes(rawAttributes);
  // Tile wrap repeats a background narrower than the bar.
  GdipSetImageAttributesWrapMode(attributes.get(), Gdiplus::WrapModeTile, 0xFF000000, FALSE);
  if (layout.Background) DrawPlaced(graphics, FBkg.get(), *layout.Background, attributes.get());
  GdipSetImageAttributesWrapMode(attributes.get(), Gdiplus::WrapModeTileFlipXY, 0xFF000000, FALSE);
  if (layout.Fill) DrawPlaced(graphics, FStep.get(), *layout.Fill, attributes.get());
  if (layout.Cap && FBorder) DrawPlaced(graphics, FBorder.get(), *layout.Cap, attributes.get());
}
