#include "skin/LGControl.h"

#include <gtest/gtest.h>

#include "common/WindowMessages.h"
#include "skin/LGButton.h"
#include "skin/LGLabel.h"
#include "skin/SkinCanvas.h"

using namespace skintest;

namespace {

class LGControlTest : public TSkinTest {};

}  // namespace

TEST_F(LGControlTest, RepaintInvalidatesTheParentUntilComposedThenPostsARedraw) {
  THiddenWindow parent;
  ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  TLGButton button(parent.Handle());
  button.SetBounds(10, 20, 30, 40);
  parent.Show();

  button.Repaint();
  EXPECT_TRUE(parent.Take(LGM_REDRAW).empty());
  RECT dirty{};
  ASSERT_TRUE(GetUpdateRect(parent.Handle(), &dirty, FALSE));
  EXPECT_EQ(dirty.left, 10);
  EXPECT_EQ(dirty.top, 20);
  EXPECT_EQ(dirty.right, 40);
  EXPECT_EQ(dirty.bottom, 60);
  ValidateRect(parent.Handle(), nullptr);

  EXPECT_FALSE(button.ParentDrawn());
  TCanvas canvas(50, 70);
  ComposeChild(button, canvas.Graphics());
  EXPECT_TRUE(button.ParentDrawn());
  button.Repaint();
  const std::vector<MSG> posted = parent.Take(LGM_REDRAW);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, 0x7E8u);
  EXPECT_EQ(posted[0].wParam, reinterpret_cast<WPARAM>(static_cast<TLGControl*>(&button)));
  EXPECT_EQ(posted[0].lParam, 0);
  EXPECT_FALSE(GetUpdateRect(parent.Handle(), nullptr, FALSE));
}

TEST_F(LGControlTest, ComposingAnInvisibleControlStillMarksItDrawn) {
  THiddenWindow parent;
  ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  TLGLabel label(parent.Handle());
  label.Visible = false;
  TCanvas canvas(10, 10);
  ComposeChild(label, canvas.Graphics());
  label.SetWideText(u"x");
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 1u);
}

TEST_F(LGControlTest, SameTextRequestsNoRedrawButANewOneDoes) {
  THiddenWindow parent;
  ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  TLGButton button(parent.Handle());
  TLGLabel label(parent.Handle());
  TCanvas canvas(10, 10);
  ComposeChild(button, canvas.Graphics());
  ComposeChild(label, canvas.Graphics());
  button.SetWideText(u"start");
  label.SetWideText(u"status");
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 2u);
  button.SetWideText(u"start");
  label.SetWideText(u"status");
  EXPECT_TRUE(parent.Take(LGM_REDRAW).empty());
  EXPECT_EQ(label.WideText(), u"status");
}

TEST_F(LGControlTest, ButtonStateChangesExceptEnablingRequestARedraw) {
  THiddenWindow parent;
  ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  TLGButton button(parent.Handle());
  TCanvas canvas(10, 10);
  ComposeChild(button, canvas.Graphics());
  button.MouseEnter();
  button.MouseDown(mbLeft, 0, 0);
  button.MouseUp(mbLeft, 0, 0);
  button.MouseLeave();
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 4u);
  button.MouseDown(mbRight, 0, 0);
  button.Enabled = false;
  EXPECT_TRUE(parent.Take(LGM_REDRAW).empty());
}
