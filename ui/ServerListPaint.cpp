// The pop-up's drawing: its orange frame and its owner-drawn items.
#include <cstring>

#include "common/Log.h"
#include "platform/CodePage.h"
#include "skin/SkinFont.h"
#include "skin/logic/SkinGeometry.h"
#include "ui/ServerList.h"

namespace {

using namespace Gdiplus::DllExports;

// "黑体", the items' face.
constexpr char ItemFontName[] = "\xBA\xDA\xCC\xE5";
constexpr int ItemFontPoints = 11;

TGpFontPtr CreateItemFont() { return CreateSkinFont(ItemFontName, ItemFontPoints); }

// Draws `image` at its natural size with its top-left corner at (x, 0).
void DrawNatural(GpGraphics* graphics, GpBitmap* image, int x) {
  UINT width = 0, height = 0;
  GdipGetImageWidth(image, &width);
  GdipGetImageHeight(image, &height);
  GdipDrawImageRectI(graphics, image, x, 0, static_cast<INT>(width), static_cast<INT>(height));
}

void DrawText(GpGraphics* graphics, const std::u16string& text, Gdiplus::GpFont* font, Gdiplus::GpStringFormat* format,
              const Gdiplus::RectF& layout, uint32_t colour) {
  Gdiplus::GpSolidFill* brush = nullptr;
  if (GdipCreateSolidFill(colour, &brush) != Gdiplus::Ok) return;
  TGpSolidBrushPtr owned(brush);
  GdipDrawString(graphics, reinterpret_cast<const WCHAR*>(text.c_str()), -1, font, &layout, format, brush);
}

}  // namespace

TGpBitmapPtr TfrmServerList::DrawItem(int index, bool highlighted, int width) const {
  if (index < 0 || static_cast<size_t>(index) >= FPopup.Items().size() || width <= 0) return nullptr;
  const TPopupItem& item = FPopup.Items()[static_cast<size_t>(index)];
  GpBitmap* bitmap = nullptr;
  if (GdipCreateBitmapFromScan0(width, PopupItemHeight, 0, PixelFormat32bppARGB, nullptr, &bitmap) != Gdiplus::Ok)
    return nullptr;
  TGpBitmapPtr owned(bitmap);
  GpGraphics* graphics = nullptr;
  if (GdipGetImageGraphicsContext(bitmap, &graphics) != Gdiplus::Ok) return nullptr;
  TGpGraphicsPtr ownedGraphics(graphics);

  const TItemLook look = ItemLook(item, highlighted);
  GpBitmap* background = highlighted ? FImages.active : FImages.normal;
  if (background) DrawNatural(graphics, background, 0);
  if (look.newMark && FImages.newMark) {
    UINT markWidth = 0;
    GdipGetImageWidth(FImages.newMark, &markWidth);
    DrawNatural(graphics, FImages.newMark, width - static_cast<int>(markWidth));
  }

  Gdiplus::GpStringFormat* format = nullptr;
  if (GdipCreateStringFormat(0, 0, &format) != Gdiplus::Ok) return owned;
  TGpStringFormatPtr ownedFormat(format);
  GdipSetStringFormatAlign(format, Gdiplus::StringAlignmentNear);
  GdipSetStringFormatLineAlign(format, Gdiplus::StringAlignmentCenter);
  GdipSetTextRenderingHint(graphics, Gdiplus::TextRenderingHintAntiAlias);
  TGpFontPtr font = CreateItemFont();
  if (!font) return owned;
  const std::u16string text = Cp936ToUtf16(item.text);
  const Gdiplus::RectF layout(static_cast<float>(ItemTextLeft), 0.0f, static_cast<float>(width),
                              static_cast<float>(PopupItemHeight));
  Gdiplus::RectF shadow = layout;
  shadow.X += ItemShadowOffset;
  shadow.Y += ItemShadowOffset;
  DrawText(graphics, text, font.get(), format, shadow, ItemShadowColor);
  DrawText(graphics, text, font.get(), format, layout, look.textColor);
  return owned;
}

void TfrmServerList::DrawListItem(const DRAWITEMSTRUCT& item) {
  if (item.itemID == static_cast<UINT>(-1)) return;
  const int width = item.rcItem.right - item.rcItem.left;
  const bool highlighted = (item.itemState & ODS_SELECTED) != 0;
  TGpBitmapPtr bitmap = DrawItem(static_cast<int>(item.itemID), highlighted, width);
  if (!bitmap) {
    // Without an off-screen picture nothing of the launcher can be drawn.
    LogError("TfrmServerList: item bitmap failed");
    PostQuitMessage(0);
    return;
  }
  GpGraphics* canvas = nullptr;
  if (GdipCreateFromHDC(item.hDC, &canvas) == Gdiplus::Ok) {
    TGpGraphicsPtr owned(canvas);
    GdipDrawImageRectI(canvas, bitmap.get(), item.rcItem.left, item.rcItem.top, width, PopupItemHeight);
  }
  if (highlighted) DrawFocusRect(item.hDC, &item.rcItem);
}

void TfrmServerList::PaintFrame() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(FWindow.Get(), &paint);
  RECT client;
  GetClientRect(FWindow.Get(), &client);
  HPEN pen = CreatePen(PS_SOLID, 1, PopupFrameColor);
  if (pen) {
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, client.left, client.top, client.right, client.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  }
  EndPaint(FWindow.Get(), &paint);
}
