#include "skin/LGProgress2.h"

#include <gtest/gtest.h>

#include "common/WindowMessages.h"
#include "skin/SkinCanvas.h"
#include "support/TestSupport.h"

using namespace skintest;

namespace {

constexpr uint32_t Red = 0xFFFF0000, Blue = 0xFF0000FF, Yellow = 0xFFFFFF00, Green = 0xFF00FF00;

class LGProgress2Test : public TSkinTest {
protected:
  // The main window's bar: 839 wide at 0,0, a background of 100 pixels
  // whose left half is blue and right half yellow, a red fill of 839.
  static void MakeBar(TLGProgress2& bar) {
    bar.SetBounds(0, 0, 839, 17);
    bar.SetBkgBitmap(StripedBitmap(100, 19, {Blue, Yellow}));
    bar.SetStepBitmap(SolidBitmap(839, 19, Red));
  }
};

}  // namespace

TEST_F(LGProgress2Test, HalfFullBarFillsTo419AndTilesTheBackgroundAcrossTheRest) {
  TLGProgress2 bar(nullptr);
  EXPECT_EQ(bar.Max(), 100);
  EXPECT_EQ(bar.Position(), 0);
  MakeBar(bar);
  bar.SetPosition(50);
  TCanvas canvas(860, 25);
  bar.DrawGraphics(canvas.Graphics());
  EXPECT_EQ(canvas.Pixel(0, 5), Red);
  EXPECT_EQ(canvas.Pixel(418, 5), Red);
  EXPECT_EQ(canvas.Pixel(418, 18), Red);  // the image's height, not the control's 17
  // 419.5 pixels of fill: column 419 is partly covered, 420 shows background.
  EXPECT_NE(canvas.Pixel(419, 5), Blue);
  EXPECT_NE(canvas.Pixel(420, 5), Red);
  // The background repeats every 100 pixels: blue on the left half of each
  // hundred, yellow on the right, up to the bar's last column.
  for (int x = 425; x < 839; ++x) {
    const uint32_t expected = (x % 100) < 50 ? Blue : Yellow;
    if ((x % 50) == 0 || (x % 50) == 49) continue;  // stripe edges may blend
    ASSERT_EQ(canvas.Pixel(x, 5), expected) << "x " << x;
  }
  EXPECT_EQ(canvas.Pixel(839, 5), 0u);
  EXPECT_EQ(canvas.Pixel(500, 19), 0u);
}

TEST_F(LGProgress2Test, FullBarWithCapEndsAtTheRightEdgeAndOffsetShiftsIt) {
  TLGProgress2 bar(nullptr);
  MakeBar(bar);
  bar.SetBorderBitmap(SolidBitmap(10, 19, Green));
  bar.SetPosition(100);
  bar.XOffset = 5;
  TCanvas canvas(860, 25);
  bar.DrawGraphics(canvas.Graphics());
  EXPECT_EQ(canvas.Pixel(5, 5), Red);
  EXPECT_EQ(canvas.Pixel(4, 5), 0u);
  EXPECT_EQ(canvas.Pixel(5 + 828, 5), Red);
  EXPECT_EQ(canvas.Pixel(5 + 830, 5), Green);
  EXPECT_EQ(canvas.Pixel(5 + 838, 5), Green);
  EXPECT_EQ(canvas.Pixel(5 + 839, 5), 0u);
}

TEST_F(LGProgress2Test, EmptyBarShowsOnlyBackgroundAndNoFillImageShowsNothing) {
  TLGProgress2 bar(nullptr);
  MakeBar(bar);
  bar.SetBorderBitmap(SolidBitmap(10, 19, Green));
  TCanvas canvas(860, 25);
  bar.DrawGraphics(canvas.Graphics());
  EXPECT_EQ(canvas.CountOf(Red), 0);
  EXPECT_EQ(canvas.CountOf(Green), 0);
  EXPECT_EQ(canvas.Pixel(10, 5), Blue);

  TLGProgress2 bare(nullptr);
  bare.SetBounds(0, 0, 839, 17);
  bare.SetBkgBitmap(SolidBitmap(839, 19, Blue));
  bare.SetPosition(50);
  TCanvas nothing(860, 25);
  bare.DrawGraphics(nothing.Graphics());
  EXPECT_TRUE(nothing.BoxOf([](uint32_t argb) { return argb != 0; }).Empty());
}

TEST_F(LGProgress2Test, DisabledBarDrawsTheSame) {
  TLGProgress2 bar(nullptr);
  MakeBar(bar);
  bar.SetPosition(37);
  TCanvas enabled(860, 25), disabled(860, 25);
  bar.DrawGraphics(enabled.Graphics());
  bar.Enabled = false;
  bar.DrawGraphics(disabled.Graphics());
  EXPECT_EQ(enabled.Pixels(), disabled.Pixels());
}

TEST_F(LGProgress2Test, OnlyChangingRangeValuesRequestARedraw) {
  THiddenWindow parent;
  ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  TLGProgress2 bar(parent.Handle());
  MakeBar(bar);
  TCanvas canvas(860, 25);
  ComposeChild(bar, canvas.Graphics());
  parent.Take(LGM_REDRAW);
  bar.SetPosition(50);
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 1u);
  bar.SetPosition(50);
  bar.SetPosition(150);
  bar.SetMax(0);
  bar.SetMin(-1);
  bar.XOffset = 3;
  EXPECT_TRUE(parent.Take(LGM_REDRAW).empty());
  EXPECT_EQ(bar.Position(), 50);
  bar.SetMax(30);
  EXPECT_EQ(bar.Position(), 30);
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 1u);
}

TEST_F(LGProgress2Test, GlyphFilesLoadAndUnknownFilesChangeNothing) {
  TTempFolder folder;
  WriteWholeFile(folder / "fill.png", EncodeSolidPng(50, 19, 0xFF0000FF));
  WriteWholeFile(folder / "back.png", EncodeSolidPng(50, 19, 0x0000FFFF));
  TLGProgress2 bar(nullptr);
  bar.SetBounds(0, 0, 100, 17);
  bar.SetPosition(100);
  bar.SetBkgGlyph(folder / "back.png");
  TCanvas none(110, 25);
  bar.DrawGraphics(none.Graphics());
  EXPECT_TRUE(none.BoxOf([](uint32_t argb) { return argb != 0; }).Empty());  // no fill yet
  bar.SetStepGlyph(folder / "fill.png");
  bar.SetStepGlyph(folder / "missing.png");
  TCanvas canvas(110, 25);
  bar.DrawGraphics(canvas.Graphics());
  EXPECT_EQ(canvas.Pixel(10, 5), Red);
  EXPECT_EQ(canvas.Pixel(90, 5), Red);  // the 50 pixel fill stretched to 100
}
