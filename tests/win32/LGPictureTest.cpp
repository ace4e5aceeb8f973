#include "skin/LGPicture.h"

#include <gtest/gtest.h>

#include "common/WindowMessages.h"
#include "skin/SkinCanvas.h"

using namespace skintest;

namespace {

constexpr uint32_t Teal = 0xFF008080;

class LGPictureTest : public TSkinTest {};

}  // namespace

TEST_F(LGPictureTest, PictureKeepsItsNaturalSizeWhateverTheControlSize) {
  TLGPicture picture(nullptr);
  picture.SetBounds(10, 20, 100, 100);
  picture.SetPicture(SolidBitmap(302, 412, Teal));
  ASSERT_TRUE(picture.HasPicture());
  TCanvas canvas(340, 450);
  picture.DrawGraphics(canvas.Graphics());
  const TBox box = canvas.BoxOf([](uint32_t argb) { return argb != 0; });
  EXPECT_EQ(box.Left, 10);
  EXPECT_EQ(box.Top, 20);
  EXPECT_EQ(box.Right, 10 + 301);
  EXPECT_EQ(box.Bottom, 20 + 411);
  EXPECT_EQ(canvas.Pixel(10 + 301, 20 + 411), Teal);
  EXPECT_EQ(canvas.Pixel(150, 300), Teal);
}

TEST_F(LGPictureTest, DisabledDrawsTheSameAndHiddenOrEmptyDrawsNothing) {
  TLGPicture picture(nullptr);
  picture.SetBounds(5, 5, 20, 20);
  TCanvas empty(60, 60);
  picture.DrawGraphics(empty.Graphics());
  EXPECT_TRUE(empty.BoxOf([](uint32_t argb) { return argb != 0; }).Empty());

  picture.SetPicture(SolidBitmap(30, 30, Teal));
  TCanvas enabled(60, 60), disabled(60, 60), hidden(60, 60);
  picture.DrawGraphics(enabled.Graphics());
  picture.Enabled = false;
  picture.DrawGraphics(disabled.Graphics());
  EXPECT_EQ(enabled.Pixels(), disabled.Pixels());
  picture.Visible = false;
  picture.DrawGraphics(hidden.Graphics());
  EXPECT_TRUE(hidden.BoxOf([](uint32_t argb) { return argb != 0; }).Empty());
}

TEST_F(LGPictureTest, ReplacingThePictureRequestsARedrawOnceComposed) {
  THiddenWindow parent;
  ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  TLGPicture picture(parent.Handle());
  picture.SetPicture(SolidBitmap(4, 4, Teal));
  EXPECT_TRUE(parent.Take(LGM_REDRAW).empty());
  TCanvas canvas(10, 10);
  ComposeChild(picture, canvas.Graphics());
  picture.SetPicture(SolidBitmap(4, 4, 0xFF101010));
  const std::vector<MSG> posted = parent.Take(LGM_REDRAW);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].wParam, reinterpret_cast<WPARAM>(static_cast<TLGControl*>(&picture)));
  picture.SetPicture(nullptr);
  EXPECT_FALSE(picture.HasPicture());
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 1u);
}
