#include "skin/LGButton.h"

#include <gtest/gtest.h>

#include "common/WindowMessages.h"
#include "skin/SkinCanvas.h"
#include "support/TestSupport.h"

using namespace skintest;

namespace {

constexpr uint32_t Red = 0xFFFF0000, Green = 0xFF00FF00, Blue = 0xFF0000FF, Grey = 0xFF808080;

class LGButtonTest : public TSkinTest {
protected:
  // The colour at the middle of the button after drawing it alone.
  uint32_t DrawnColour(TLGButton& button) {
    TCanvas canvas(120, 80);
    button.DrawGraphics(canvas.Graphics());
    return canvas.Pixel(button.Left + button.Width / 2, button.Top + button.Height / 2);
  }

  // A button at 10,10 of 40 x 20 with one solid 8 x 8 image per state.
  void GiveAllStates(TLGButton& button) {
    button.SetBounds(10, 10, 40, 20);
    button.SetStateGlyph(lgsNormal, SolidBitmap(8, 8, Red));
    button.SetStateGlyph(lgsActive, SolidBitmap(8, 8, Green));
    button.SetStateGlyph(lgsDown, SolidBitmap(8, 8, Blue));
    button.SetStateGlyph(lgsDisable, SolidBitmap(8, 8, Grey));
  }
};

}  // namespace

TEST_F(LGButtonTest, EachStateDrawsItsOwnImageStretchedOverTheBounds) {
  TLGButton button(nullptr);
  EXPECT_EQ(button.Width, 60);
  EXPECT_EQ(button.Height, 20);
  GiveAllStates(button);
  EXPECT_EQ(DrawnColour(button), Red);
  button.MouseEnter();
  EXPECT_EQ(DrawnColour(button), Green);
  button.MouseDown(mbRight, 1, 1);  // only the left button presses
  EXPECT_EQ(DrawnColour(button), Green);
  button.MouseDown(mbLeft, 1, 1);
  EXPECT_EQ(DrawnColour(button), Blue);
  button.MouseUp(mbLeft, 1, 1);
  EXPECT_EQ(DrawnColour(button), Green);
  button.MouseLeave();
  EXPECT_EQ(DrawnColour(button), Red);

  // The 8 x 8 image is stretched over the 40 x 20 and not beyond it (the
  // last pixel row and column depend on the sampling of the GDI+ at hand).
  TCanvas canvas(120, 80);
  button.DrawGraphics(canvas.Graphics());
  EXPECT_EQ(canvas.Pixel(10, 10), Red);
  EXPECT_EQ(canvas.Pixel(47, 28), Red);
  EXPECT_EQ(canvas.Pixel(9, 20), 0u);
  EXPECT_EQ(canvas.Pixel(30, 9), 0u);
  EXPECT_EQ(canvas.Pixel(50, 20), 0u);
  EXPECT_EQ(canvas.Pixel(30, 30), 0u);
}

TEST_F(LGButtonTest, DisabledWinsOverHoverAndPressAndFallsBackToNormal) {
  TLGButton button(nullptr);
  GiveAllStates(button);
  button.Enabled = false;
  button.MouseEnter();
  button.MouseDown(mbLeft, 1, 1);
  EXPECT_EQ(button.GetState(), lgsDisable);
  EXPECT_EQ(DrawnColour(button), Grey);
  button.SetStateGlyph(lgsDisable, nullptr);
  EXPECT_EQ(DrawnColour(button), Red);
  // Enabled again while still pressed: the press shows.
  button.Enabled = true;
  EXPECT_EQ(DrawnColour(button), Blue);
}

TEST_F(LGButtonTest, InvisibleOrImagelessButtonDrawsNoImage) {
  TLGButton button(nullptr);
  GiveAllStates(button);
  button.Visible = false;
  EXPECT_EQ(DrawnColour(button), 0u);
  button.Visible = true;
  button.FreeGlyphs();
  EXPECT_FALSE(button.HasGlyph(lgsNormal));
  EXPECT_EQ(DrawnColour(button), 0u);
  // No graphics at all is no failure.
  button.DrawGraphics(nullptr);
}

TEST_F(LGButtonTest, GlyphStripSplitsIntoFourFramesInStateOrder) {
  TLGButton button(nullptr);
  button.SetBounds(0, 0, 110, 35);
  TGpBitmapPtr strip = StripedBitmap(440, 35, {Red, Green, Blue, Grey});
  button.SplitGlyph(strip.get(), true);
  for (int state = lgsNormal; state <= lgsDisable; ++state) ASSERT_TRUE(button.HasGlyph(TLGButtonState(state)));

  // Each frame fills the whole button with its own colour, edges included.
  const uint32_t expected[4] = {Red, Green, Blue, Grey};
  auto frameColours = [&](TLGButtonState state) {
    TCanvas canvas(120, 40);
    if (state == lgsDisable) button.Enabled = false;
    button.DrawGraphics(canvas.Graphics());
    button.Enabled = true;
    return std::vector<uint32_t>{canvas.Pixel(0, 0), canvas.Pixel(109, 34), canvas.Pixel(55, 17)};
  };
  EXPECT_EQ(frameColours(lgsNormal), std::vector<uint32_t>(3, expected[0]));
  button.MouseEnter();
  EXPECT_EQ(frameColours(lgsActive), std::vector<uint32_t>(3, expected[1]));
  button.MouseDown(mbLeft, 0, 0);
  EXPECT_EQ(frameColours(lgsDown), std::vector<uint32_t>(3, expected[2]));
  EXPECT_EQ(frameColours(lgsDisable), std::vector<uint32_t>(3, expected[3]));

  EXPECT_THROW(button.SplitGlyph(nullptr, true), std::exception);
  EXPECT_TRUE(button.HasGlyph(lgsNormal));
}

TEST_F(LGButtonTest, ButtonGlyphFileLoadsAStripAndUnknownFilesKeepTheImages) {
  TTempFolder folder;
  TGpBitmapPtr strip = StripedBitmap(440, 35, {Red, Green, Blue, Grey});
  ASSERT_TRUE(SavePng(strip.get(), folder / "strip.png"));
  WriteWholeFile(folder / "broken.png", "no image");

  THiddenWindow parent;
  ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  TLGButton button(parent.Handle());
  button.SetBounds(0, 0, 110, 35);
  TCanvas composed(120, 40);
  ComposeChild(button, composed.Graphics());
  button.SetButtonGlyph(folder / "strip.png");
  EXPECT_EQ(button.ButtonGlyph(), folder / "strip.png");
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 1u);
  EXPECT_EQ(DrawnColour(button), Red);
  button.MouseEnter();
  EXPECT_EQ(DrawnColour(button), Green);
  button.MouseLeave();

  button.SetButtonGlyph(folder / "missing.png");
  EXPECT_EQ(button.ButtonGlyph(), folder / "missing.png");  // the name is kept
  EXPECT_EQ(DrawnColour(button), Red);
  button.SetButtonGlyph(folder / "broken.png");
  EXPECT_EQ(DrawnColour(button), Red);
  EXPECT_TRUE(button.HasGlyph(lgsDisable));
  parent.Take(LGM_REDRAW);
  button.SetButtonGlyph(folder / "gone.png");
  EXPECT_TRUE(parent.Take(LGM_REDRAW).empty());
}

TEST_F(LGButtonTest, PressedTextMovesOnePixelRightAndDownInTheFontColour) {
  TLGButton button(nullptr);
  button.SetBounds(10, 10, 100, 50);
  button.Font.Size = 24;
  button.Font.Color = 0x00FFFFFF;
  button.SetWideText(u"HH");
  auto textBox = [&](uint32_t* solid) {
    TCanvas canvas(130, 80);
    button.DrawGraphics(canvas.Graphics());
    if (solid) *solid = static_cast<uint32_t>(canvas.CountOf(0xFFFFFFFF));
    return canvas.BoxOf([](uint32_t argb) { return (argb >> 24) != 0; });
  };
  uint32_t solidPixels = 0;
  const TBox up = textBox(&solidPixels);
  ASSERT_FALSE(up.Empty());
  EXPECT_GT(solidPixels, 0u);
  // Centred in the bounds, which start one pixel lower than the button.
  EXPECT_NEAR((up.Left + up.Right) / 2.0, 60, 3);
  button.MouseDown(mbLeft, 5, 5);
  const TBox down = textBox(nullptr);
  EXPECT_EQ(down.Left, up.Left + 1);
  EXPECT_EQ(down.Top, up.Top + 1);
  EXPECT_EQ(down.Right, up.Right + 1);
  EXPECT_EQ(down.Bottom, up.Bottom + 1);
}

TEST_F(LGButtonTest, DrawingLeavesNearestNeighbourInterpolationOnTheSurface) {
  TLGButton button(nullptr);
  GiveAllStates(button);
  TCanvas canvas(60, 40);
  button.DrawGraphics(canvas.Graphics());
  Gdiplus::InterpolationMode mode = Gdiplus::InterpolationModeDefault;
  GdipGetInterpolationMode(canvas.Graphics(), &mode);
  EXPECT_EQ(mode, Gdiplus::InterpolationModeNearestNeighbor);
}

TEST_F(LGButtonTest, MouseEventsFireAndClickNeedsARelease) {
  TLGButton button(nullptr);
  button.SetBounds(10, 10, 40, 20);
  std::vector<std::string> events;
  button.OnMouseDown = [&](TLGControl&, TMouseButton, int x, int y) { events.push_back("down"); };
  button.OnMouseUp = [&](TLGControl&, TMouseButton, int, int) { events.push_back("up"); };
  button.OnClick = [&](TLGControl&) { events.push_back("click"); };
  button.OnMouseEnter = [&](TLGControl&) { events.push_back("enter"); };
  button.OnMouseLeave = [&](TLGControl&) { events.push_back("leave"); };
  button.MouseEnter();
  button.MouseDown(mbLeft, 3, 3);
  button.MouseUp(mbLeft, 39, 19);   // still inside (control coordinates)
  button.MouseDown(mbLeft, 3, 3);
  button.MouseUp(mbLeft, 40, 5);    // just outside: no click
  button.MouseDown(mbRight, 3, 3);
  button.MouseUp(mbRight, 3, 3);    // the right button never clicks
  button.MouseLeave();
  EXPECT_EQ(events, (std::vector<std::string>{"enter", "down", "up", "click", "down", "up", "down", "up", "leave"}));
  EXPECT_EQ(button.GetState(), lgsNormal);
}
