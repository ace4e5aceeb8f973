#include "skin/LGLabel.h"

#include <gtest/gtest.h>

#include "common/WindowMessages.h"
#include "skin/SkinCanvas.h"

using namespace skintest;

namespace {

constexpr uint32_t Orange = 0xFFFF8040;  // Font.Color 4227327

class LGLabelTest : public TSkinTest {
protected:
  // A large-text orange label at 10,10 of 300 x 60.
  static void MakeBig(TLGLabel& label) {
    label.SetBounds(10, 10, 300, 60);
    label.Font.Size = 28;
    label.Font.Color = 4227327;
    label.SetWideText(u"HIH");
  }
  // Where GDI+ itself puts the label's text in its bounds, drawn here
  // without the label: the same font, near alignment, centred lines.
  static TBox ReferenceTextBox(const TLGLabel& label) {
    LOGFONTA logFont{};
    logFont.lfHeight = LogFontHeight(label.Font.Size);
    logFont.lfWidth = 700;
    logFont.lfCharSet = DEFAULT_CHARSET;
    logFont.lfQuality = ANTIALIASED_QUALITY;
    lstrcpynA(logFont.lfFaceName, label.Font.Name.c_str(), LF_FACESIZE);
    HDC screen = GetDC(nullptr);
    Gdiplus::GpFont* font = nullptr;
    GdipCreateFontFromLogfontA(screen, &logFont, &font);
    ReleaseDC(nullptr, screen);
    const TGpFontPtr ownedFont(font);
    Gdiplus::GpStringFormat* format = nullptr;
    GdipCreateStringFormat(Gdiplus::StringFormatFlagsNoWrap, 0, &format);
    const TGpStringFormatPtr ownedFormat(format);
    GdipSetStringFormatLineAlign(format, Gdiplus::StringAlignmentCenter);
    Gdiplus::GpSolidFill* brush = nullptr;
    GdipCreateSolidFill(0xFFFFFFFF, &brush);
    const TGpSolidBrushPtr ownedBrush(brush);
    TCanvas canvas(330, 90);
    GdipSetTextRenderingHint(canvas.Graphics(), Gdiplus::TextRenderingHintAntiAlias);
    const Gdiplus::RectF rect(static_cast<float>(label.Left), static_cast<float>(label.Top),
                              static_cast<float>(label.Width), static_cast<float>(label.Height));
    GdipDrawString(canvas.Graphics(), reinterpret_cast<const WCHAR*>(label.WideText().c_str()), -1, font, &rect,
                   format, brush);
    return canvas.BoxOf(Drawn);
  }
  static bool Drawn(uint32_t argb) { return (argb >> 24) != 0; }
  // Text pixels carry red; the black shadow has none.
  static bool TextColoured(uint32_t argb) { return (argb >> 24) != 0 && ((argb >> 16) & 0xFF) != 0; }
};

}  // namespace

TEST_F(LGLabelTest, TextInTheConvertedColourOverABlackShadowTwoPixelsDownRight) {
  TLGLabel label(nullptr);
  MakeBig(label);
  TCanvas canvas(330, 90);
  label.DrawGraphics(canvas.Graphics());

  EXPECT_GT(canvas.CountOf(Orange), 0);
  EXPECT_GT(canvas.CountOf(0xFF000000), 0);
  const TBox text = canvas.BoxOf(TextColoured);
  const TBox all = canvas.BoxOf(Drawn);
  ASSERT_FALSE(text.Empty());
  // The text lies where GDI+ puts it in the label's bounds.
  const TBox reference = ReferenceTextBox(label);
  EXPECT_EQ(text.Left, reference.Left);
  EXPECT_EQ(text.Top, reference.Top);
  EXPECT_EQ(text.Right, reference.Right);
  EXPECT_EQ(text.Bottom, reference.Bottom);
  // The shadow reaches two pixels beyond the text to the right and below,
  // and never above or to the left of it.
  EXPECT_EQ(all.Right, text.Right + 2);
  EXPECT_EQ(all.Bottom, text.Bottom + 2);
  EXPECT_EQ(all.Left, text.Left);
  EXPECT_EQ(all.Top, text.Top);
  // Every fully covered text pixel has a fully covered shadow pixel two to
  // the lower right, unless the text itself lies there.
  int checked = 0;
  for (int y = text.Top; y <= text.Bottom; ++y)
    for (int x = text.Left; x <= text.Right; ++x) {
      if (canvas.Pixel(x, y) != Orange || canvas.Pixel(x + 2, y + 2) == Orange) continue;
      const uint32_t below = canvas.Pixel(x + 2, y + 2);
      EXPECT_EQ(below >> 24, 0xFFu) << x << "," << y;
      ++checked;
    }
  EXPECT_GT(checked, 0);
}

TEST_F(LGLabelTest, CentredOnlyWhenCentredAndVerticallyCentredAlways) {
  TLGLabel label(nullptr);
  MakeBig(label);
  auto textBox = [&](TAlignment alignment) {
    label.Alignment = alignment;
    TCanvas canvas(330, 90);
    label.DrawGraphics(canvas.Graphics());
    return canvas.BoxOf(TextColoured);
  };
  const TBox left = textBox(taLeftJustify);
  const TBox right = textBox(taRightJustify);
  const TBox centre = textBox(taCenter);
  ASSERT_FALSE(left.Empty());
  EXPECT_LT(left.Left, 10 + 20);
  // Right-justified text is drawn near, like left-justified.
  EXPECT_EQ(right.Left, left.Left);
  EXPECT_EQ(right.Right, left.Right);
  EXPECT_NEAR((centre.Left + centre.Right) / 2.0, 10 + 150, 4);
  EXPECT_NEAR((left.Top + left.Bottom) / 2.0, 10 + 30, 6);
}

TEST_F(LGLabelTest, EmptyTextDrawsNothingAndCaptionNeverDraws) {
  TLGLabel label(nullptr);
  label.SetBounds(0, 0, 100, 30);
  label.Caption = "caption";
  TCanvas canvas(120, 40);
  label.DrawGraphics(canvas.Graphics());
  EXPECT_EQ(canvas.BoxOf(Drawn).Empty(), true);
  label.SetWideText(u"X");
  label.Visible = false;
  label.DrawGraphics(canvas.Graphics());
  EXPECT_EQ(canvas.BoxOf(Drawn).Empty(), true);
}

TEST_F(LGLabelTest, DisabledLabelDrawsLikeAnEnabledOne) {
  TLGLabel label(nullptr);
  MakeBig(label);
  TCanvas enabled(330, 90), disabled(330, 90);
  label.DrawGraphics(enabled.Graphics());
  label.Enabled = false;
  label.DrawGraphics(disabled.Graphics());
  EXPECT_EQ(enabled.Pixels(), disabled.Pixels());
  // The label leaves anti-aliased text rendering on the surface.
  Gdiplus::TextRenderingHint hint = Gdiplus::TextRenderingHintSystemDefault;
  GdipGetTextRenderingHint(disabled.Graphics(), &hint);
  EXPECT_EQ(hint, Gdiplus::TextRenderingHintAntiAlias);
}

TEST_F(LGLabelTest, BoldStyleDoesNotChangeTheLabel) {
  TLGLabel label(nullptr);
  MakeBig(label);
  TCanvas plain(330, 90), bold(330, 90);
  label.DrawGraphics(plain.Graphics());
  label.Font.Bold = true;
  label.DrawGraphics(bold.Graphics());
  EXPECT_EQ(plain.Pixels(), bold.Pixels());
}

TEST_F(LGLabelTest, EnterAndLeaveFireOnlyTheLabelsEventsWithoutARedraw) {
  THiddenWindow parent;
  ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  TLGLabel label(parent.Handle());
  label.SetBounds(0, 0, 50, 20);
  TCanvas canvas(60, 30);
  ComposeChild(label, canvas.Graphics());
  std::vector<std::string> events;
  label.OnMouseEnter = [&](TLGControl& sender) {
    EXPECT_EQ(&sender, &label);
    events.push_back("enter");
  };
  label.OnMouseLeave = [&](TLGControl&) { events.push_back("leave"); };
  label.MouseEnter();
  label.MouseLeave();
  EXPECT_EQ(events, (std::vector<std::string>{"enter", "leave"}));
  EXPECT_TRUE(parent.Take(LGM_REDRAW).empty());
  // Unassigned events are no failure.
  label.OnMouseEnter = nullptr;
  label.MouseEnter();
}
