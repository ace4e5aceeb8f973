#include "skin/logic/SkinGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const bool kNoneHeld[4] = {false, false, false, false};

void ExpectRect(const TRectF& rect, float x, float y, float width, float height) {
  EXPECT_FLOAT_EQ(rect.X, x);
  EXPECT_FLOAT_EQ(rect.Y, y);
  EXPECT_FLOAT_EQ(rect.Width, width);
  EXPECT_FLOAT_EQ(rect.Height, height);
}

}  // namespace

TEST(SkinGeometry, ButtonStateRanksDisabledOverDownOverHover) {
  EXPECT_EQ(ButtonState(true, false, false), lgsNormal);
  EXPECT_EQ(ButtonState(true, false, true), lgsActive);
  EXPECT_EQ(ButtonState(true, true, false), lgsDown);
  EXPECT_EQ(ButtonState(true, true, true), lgsDown);
  EXPECT_EQ(ButtonState(false, true, true), lgsDisable);
  EXPECT_EQ(ButtonState(false, false, false), lgsDisable);
}

TEST(SkinGeometry, MissingStateImageFallsBackToNormalOrNothing) {
  const bool onlyNormal[4] = {true, false, false, false};
  EXPECT_EQ(GlyphToDraw(lgsDisable, onlyNormal), lgsNormal);
  EXPECT_EQ(GlyphToDraw(lgsActive, onlyNormal), lgsNormal);
  const bool all[4] = {true, true, true, true};
  EXPECT_EQ(GlyphToDraw(lgsDisable, all), lgsDisable);
  EXPECT_EQ(GlyphToDraw(lgsDown, all), lgsDown);
  // A state image without a normal one is still drawn in its own state.
  const bool onlyDown[4] = {false, false, true, false};
  EXPECT_EQ(GlyphToDraw(lgsDown, onlyDown), lgsDown);
  EXPECT_EQ(GlyphToDraw(lgsActive, onlyDown), std::nullopt);
  EXPECT_EQ(GlyphToDraw(lgsNormal, kNoneHeld), std::nullopt);
}

TEST(SkinGeometry, PressedButtonTextSinksOnePixelRightAndDown) {
  const TRectI bounds{96, 48, 60, 20};
  ExpectRect(ButtonTextRect(bounds, lgsNormal), 96, 49, 60, 20);
  ExpectRect(ButtonTextRect(bounds, lgsActive), 96, 49, 60, 20);
  ExpectRect(ButtonTextRect(bounds, lgsDisable), 96, 49, 60, 20);
  ExpectRect(ButtonTextRect(bounds, lgsDown), 97, 50, 60, 20);
}

TEST(SkinGeometry, FontColourBytesAreSwappedIntoOpaqueArgb) {
  EXPECT_EQ(FontColorToArgb(4227327), 0xFFFF8040u);  // the labels' orange
  EXPECT_EQ(FontColorToArgb(0xFF000008), 0xFF080000u);  // a system colour is not resolved
  EXPECT_EQ(FontColorToArgb(0x00FFFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(FontColorToArgb(0), 0xFF000000u);
  EXPECT_EQ(FontColorToArgb(0x00123456), 0xFF563412u);
}

TEST(SkinGeometry, LogFontHeightsFollowPointSizesAt96Dpi) {
  EXPECT_EQ(LogFontHeight(9), -12);
  EXPECT_EQ(LogFontHeight(11), -15);  // 14.67 rounds up
  EXPECT_EQ(LogFontHeight(12), -16);
  EXPECT_EQ(PointSizeFromPixelHeight(-12), 9);
  EXPECT_EQ(PointSizeFromPixelHeight(-14), 11);  // 10.5 rounds away from zero
  // The form fonts: height -14 is drawn 15 pixels high.
  EXPECT_EQ(LogFontHeight(PointSizeFromPixelHeight(-14)), -15);
  EXPECT_EQ(LogFontHeight(PointSizeFromPixelHeight(-12)), -12);
}

TEST(SkinGeometry, LabelsAreCentredOnlyWhenCentred) {
  EXPECT_EQ(LabelStringAlignment(taCenter), 1);
  EXPECT_EQ(LabelStringAlignment(taLeftJustify), 0);
  EXPECT_EQ(LabelStringAlignment(taRightJustify), 0);  // right-justified draws near
}

TEST(SkinGeometry, GlyphStripFramesInStateOrder) {
  for (int frame = 0; frame < 4; ++frame) {
    const TRectI area = GlyphFrame(440, 35, frame, true);
    EXPECT_EQ(area.X, frame * 110);
    EXPECT_EQ(area.Y, 0);
    EXPECT_EQ(area.Width, 110);
    EXPECT_EQ(area.Height, 35);
  }
  // Widths that do not divide by four drop the remainder.
  const TRectI last = GlyphFrame(443, 35, 3, true);
  EXPECT_EQ(last.X, 330);
  EXPECT_EQ(last.Width, 110);
  const TRectI vertical = GlyphFrame(60, 81, 2, false);
  EXPECT_EQ(vertical.X, 0);
  EXPECT_EQ(vertical.Y, 40);
  EXPECT_EQ(vertical.Width, 60);
  EXPECT_EQ(vertical.Height, 20);
}

TEST(SkinGeometry, RangeSettersKeepTheInvariantAndReportChanges) {
  TProgressRange range;
  EXPECT_TRUE(range.SetPosition(50));
  EXPECT_FALSE(range.SetPosition(50));  // unchanged: no repaint
  EXPECT_FALSE(range.SetPosition(150));  // ignored, not clamped
  EXPECT_EQ(range.Position, 50);
  EXPECT_FALSE(range.SetPosition(-1));
  EXPECT_EQ(range.Position, 50);

  EXPECT_TRUE(range.SetMax(30));
  EXPECT_EQ(range.Max, 30);
  EXPECT_EQ(range.Position, 30);
  EXPECT_FALSE(range.SetMax(0));  // not above Min 0
  EXPECT_EQ(range.Max, 30);

  EXPECT_FALSE(range.SetMin(-1));
  EXPECT_FALSE(range.SetMin(30));  // must stay below Max
  EXPECT_EQ(range.Min, 0);
  EXPECT_TRUE(range.SetPosition(5));
  EXPECT_TRUE(range.SetMin(10));  // drags Position up with it
  EXPECT_EQ(range.Position, 10);
  EXPECT_FALSE(range.SetMax(10));  // equal to Min
  EXPECT_FALSE(range.SetPosition(9));
  EXPECT_EQ(range.Position, 10);
}

TEST(SkinGeometry, RangeComparesFullSixtyFourBitValues) {
  TProgressRange range;
  const int64_t big = int64_t{1} << 40;
  EXPECT_TRUE(range.SetMax(big));
  EXPECT_TRUE(range.SetPosition(big - 1));
  EXPECT_EQ(range.Position, big - 1);
  // A value that only fits when cut to 32 bits stays out of range.
  EXPECT_FALSE(range.SetPosition(big + 1));
  EXPECT_EQ(range.Position, big - 1);
}

TEST(SkinGeometry, HalfFullBarOf839PixelsShows419Point5OfFill) {
  const TProgressLayout layout =
      LayoutProgress({83, 477, 839, 17}, 0, 50, 100, TSizeI{839, 19}, TSizeI{839, 19}, std::nullopt);
  EXPECT_FLOAT_EQ(layout.FillLength, 419.5f);
  ASSERT_TRUE(layout.Fill);
  ExpectRect(layout.Fill->Dest, 83, 477, 419.5f, 19);
  ExpectRect(layout.Fill->Source, 0, 0, 419, 19);
  ASSERT_TRUE(layout.Background);
  ExpectRect(layout.Background->Dest, 83, 477, 839, 19);
  EXPECT_FALSE(layout.Cap);
}

TEST(SkinGeometry, FullBarPutsTheCapAgainstTheRightEdge) {
  const TProgressLayout layout =
      LayoutProgress({83, 501, 839, 17}, 0, 100, 100, std::nullopt, TSizeI{200, 19}, TSizeI{12, 21});
  EXPECT_FLOAT_EQ(layout.FillLength, 839);
  ASSERT_TRUE(layout.Fill);
  // Longer than the fill image: the whole image is stretched.
  ExpectRect(layout.Fill->Dest, 83, 501, 839, 19);
  ExpectRect(layout.Fill->Source, 0, 0, 200, 19);
  ASSERT_TRUE(layout.Cap);
  ExpectRect(layout.Cap->Dest, 83 + 839 - 12, 501, 12, 21);
  ExpectRect(layout.Cap->Source, 0, 0, 12, 21);
  EXPECT_FLOAT_EQ(layout.Cap->Dest.X + layout.Cap->Dest.Width, 83 + 839);
  EXPECT_FALSE(layout.Background);
}

TEST(SkinGeometry, CapWiderThanTheFillShowsItsRightmostPart) {
  // 3 of 100 on 200 pixels: a fill of 6 pixels under a 10 pixel cap.
  const TProgressLayout layout =
      LayoutProgress({0, 0, 200, 10}, 5, 3, 100, std::nullopt, TSizeI{200, 10}, TSizeI{10, 10});
  ASSERT_TRUE(layout.Cap);
  ExpectRect(layout.Cap->Dest, 5, 0, 6, 10);
  ExpectRect(layout.Cap->Source, 4, 0, 6, 10);
}

TEST(SkinGeometry, EmptyBarShowsNoFillAndNoVisibleCap) {
  const TProgressLayout layout =
      LayoutProgress({10, 20, 839, 17}, 0, 0, 100, TSizeI{100, 19}, TSizeI{839, 19}, TSizeI{8, 19});
  EXPECT_FLOAT_EQ(layout.FillLength, 0);
  ASSERT_TRUE(layout.Fill);
  EXPECT_FLOAT_EQ(layout.Fill->Dest.Width, 0);
  EXPECT_FLOAT_EQ(layout.Fill->Source.Width, 0);
  ASSERT_TRUE(layout.Cap);
  EXPECT_FLOAT_EQ(layout.Cap->Dest.Width, 0);
  ASSERT_TRUE(layout.Background);  // the background still shows
}

TEST(SkinGeometry, NarrowBackgroundIsTiledAcrossTheWholeBarAndOffsetShiftsAll) {
  const TProgressLayout layout =
      LayoutProgress({83, 477, 839, 17}, 7, 50, 100, TSizeI{100, 19}, TSizeI{839, 19}, TSizeI{10, 19});
  ASSERT_TRUE(layout.Background);
  // The source is as wide as the bar, so tile wrap repeats the image.
  ExpectRect(layout.Background->Dest, 90, 477, 839, 19);
  ExpectRect(layout.Background->Source, 0, 0, 839, 19);
  EXPECT_FLOAT_EQ(layout.Fill->Dest.X, 90);
  EXPECT_FLOAT_EQ(layout.Cap->Dest.X, 90 + 419.5f - 10);
}

TEST(SkinGeometry, BarWithoutFillImageDrawsNothing) {
  const TProgressLayout layout =
      LayoutProgress({83, 477, 839, 17}, 0, 50, 100, TSizeI{839, 19}, std::nullopt, TSizeI{10, 19});
  EXPECT_FALSE(layout.Background);
  EXPECT_FALSE(layout.Fill);
  EXPECT_FALSE(layout.Cap);
}

TEST(SkinGeometry, FillLengthIsKeptInSinglePrecision) {
  // 1/3 of 839 is 279.666...; the single-precision value is what is drawn.
  const TProgressLayout layout =
      LayoutProgress({0, 0, 839, 17}, 0, 1, 3, std::nullopt, TSizeI{839, 19}, std::nullopt);
  EXPECT_EQ(layout.FillLength, static_cast<float>(839.0 / 3.0));
  EXPECT_FLOAT_EQ(layout.Fill->Source.Width, 279);
  // Huge 64-bit values keep their ratio.
  const int64_t max = int64_t{3} << 40;
  const TProgressLayout big =
      LayoutProgress({0, 0, 100, 17}, 0, max / 3, max, std::nullopt, TSizeI{100, 19}, std::nullopt);
  EXPECT_NEAR(big.FillLength, 33.333f, 0.001f);
}
