#include "skin/SkinRoot.h"

#include <gtest/gtest.h>

#include "common/WindowMessages.h"
#include "skin/LGButton.h"
#include "skin/LGLabel.h"
#include "skin/LGPicture.h"
#include "skin/SkinCanvas.h"

using namespace skintest;

namespace {

// A small window of controls: two buttons side by side (the second
// disabled), a picture below them, a label on the picture, and a hidden
// button over the label.
class SkinRootTest : public TSkinTest {
protected:
  SkinRootTest()
      : picture(parent.Handle()), start(parent.Handle()), locked(parent.Handle()), link(parent.Handle()),
        hidden(parent.Handle()) {
    picture.SetBounds(0, 40, 200, 60);
    start.SetBounds(10, 10, 40, 20);
    locked.SetBounds(60, 10, 40, 20);
    locked.Enabled = false;
    link.SetBounds(10, 50, 80, 20);
    link.HandCursor = true;
    hidden.SetBounds(10, 50, 80, 20);
    hidden.Visible = false;
    for (TLGControl* control : std::vector<TLGControl*>{&picture, &start, &locked, &link, &hidden}) {
      root.Add(*control);
      control->OnMouseEnter = [this](TLGControl& sender) { events.push_back("enter " + sender.Name); };
      control->OnMouseLeave = [this](TLGControl& sender) { events.push_back("leave " + sender.Name); };
      control->OnMouseDown = [this](TLGControl& sender, TMouseButton, int x, int y) {
        events.push_back("down " + sender.Name + " " + std::to_string(x) + "," + std::to_string(y));
      };
      control->OnClick = [this](TLGControl& sender) { events.push_back("click " + sender.Name); };
    }
    picture.Name = "picture";
    start.Name = "start";
    locked.Name = "locked";
    link.Name = "link";
    hidden.Name = "hidden";
  }

  void SetUp() override {
    TSkinTest::SetUp();
    ASSERT_TRUE(parent.Ok()) << "no window: the suite needs a display";
  }

  THiddenWindow parent;
  TLGPicture picture;
  TLGButton start, locked;
  TLGLabel link;
  TLGButton hidden;
  TSkinRoot root;
  std::vector<std::string> events;
};

}  // namespace

TEST_F(SkinRootTest, HoverFollowsTheTopmostVisibleControlDisabledOnesIncluded) {
  root.MouseMove(20, 20);
  EXPECT_EQ(root.Hovered(), &start);
  root.MouseMove(21, 21);  // same control: no new events
  root.MouseMove(70, 20);
  EXPECT_EQ(root.Hovered(), &locked);
  root.MouseMove(20, 55);  // the hidden button over the label is passed over
  EXPECT_EQ(root.Hovered(), &link);
  root.MouseMove(150, 90);
  EXPECT_EQ(root.Hovered(), &picture);
  root.MouseLeaveWindow();
  EXPECT_EQ(root.Hovered(), nullptr);
  EXPECT_EQ(events, (std::vector<std::string>{"enter start", "leave start", "enter locked", "leave locked",
                                              "enter link", "leave link", "enter picture", "leave picture"}));
}

TEST_F(SkinRootTest, HoveredDisabledButtonShowsItsDisableImage) {
  locked.SetStateGlyph(lgsNormal, SolidBitmap(4, 4, 0xFFFF0000));
  locked.SetStateGlyph(lgsActive, SolidBitmap(4, 4, 0xFF00FF00));
  locked.SetStateGlyph(lgsDisable, SolidBitmap(4, 4, 0xFF808080));
  root.MouseMove(70, 20);
  EXPECT_EQ(root.MouseDown(mbLeft, 70, 20), nullptr);
  TCanvas canvas(200, 100);
  root.ComposeAll(canvas.Graphics());
  EXPECT_EQ(canvas.Pixel(80, 20), 0xFF808080u);
  // Enabled while under the mouse, it shows that it is hovered.
  locked.Enabled = true;
  TCanvas again(200, 100);
  root.ComposeAll(again.Graphics());
  EXPECT_EQ(again.Pixel(80, 20), 0xFF00FF00u);
}

TEST_F(SkinRootTest, PressesGoOnlyToVisibleEnabledControlsInTheirOwnCoordinates) {
  EXPECT_EQ(root.MouseDown(mbLeft, 70, 20), nullptr);    // disabled button
  EXPECT_EQ(root.MouseDown(mbLeft, 250, 20), nullptr);   // nothing there
  EXPECT_EQ(root.Captured(), nullptr);
  EXPECT_EQ(root.MouseDown(mbLeft, 15, 25), &start);
  EXPECT_EQ(root.Captured(), &start);
  EXPECT_EQ(GetCapture(), parent.Handle());
  EXPECT_EQ(start.GetState(), lgsDown);
  root.MouseUp(mbLeft, 15, 25);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(root.Captured(), nullptr);
  EXPECT_EQ(root.MouseDown(mbLeft, 20, 60), &link);  // not the hidden button above it
  root.MouseUp(mbLeft, 20, 60);
  EXPECT_EQ(events, (std::vector<std::string>{"down start 5,15", "click start", "down link 10,10", "click link"}));
}

TEST_F(SkinRootTest, PressOnADisabledControlFallsThroughToTheEnabledOneBelow) {
  // The main window's disabled start button lies on the login picture,
  // whose press starts the window drag.
  locked.SetBounds(100, 60, 40, 20);
  EXPECT_EQ(root.MouseDown(mbLeft, 110, 70), &picture);
  root.MouseUp(mbLeft, 110, 70);
  EXPECT_EQ(events, (std::vector<std::string>{"down picture 110,30", "click picture"}));
}

TEST_F(SkinRootTest, ClickOnlyWhenReleasedOverThePressedControl) {
  ASSERT_EQ(root.MouseDown(mbLeft, 20, 20), &start);
  root.MouseMove(20, 20);
  root.MouseMove(150, 90);  // dragged off: hover moves, the press stays
  EXPECT_EQ(root.Captured(), &start);
  EXPECT_EQ(start.GetState(), lgsDown);
  root.MouseUp(mbLeft, 150, 90);
  EXPECT_EQ(start.GetState(), lgsNormal);
  // Released over another control: that one gets no click either.
  ASSERT_EQ(root.MouseDown(mbLeft, 20, 20), &start);
  root.MouseUp(mbLeft, 20, 60);
  // A release without a press goes nowhere.
  root.MouseUp(mbLeft, 20, 20);
  for (const std::string& event : events) EXPECT_EQ(event.rfind("click", 0), std::string::npos) << event;
}

TEST_F(SkinRootTest, HandlerThatStartsAWindowDragEndsThePress) {
  picture.OnMouseDown = [](TLGControl&, TMouseButton, int, int) { ReleaseCapture(); };
  EXPECT_EQ(root.MouseDown(mbLeft, 150, 90), &picture);
  EXPECT_EQ(root.Captured(), nullptr);
  root.MouseUp(mbLeft, 150, 90);
  EXPECT_TRUE(std::find(events.begin(), events.end(), "click picture") == events.end());
}

TEST_F(SkinRootTest, HandCursorComesFromTheEnabledControlUnderThePoint) {
  EXPECT_TRUE(root.WantsHandCursor(20, 60));
  EXPECT_FALSE(root.WantsHandCursor(20, 20));
  EXPECT_FALSE(root.WantsHandCursor(250, 20));
  link.Enabled = false;
  EXPECT_FALSE(root.WantsHandCursor(20, 60));
}

TEST_F(SkinRootTest, ComposeAllDrawsInOrderAndMarksEveryControl) {
  picture.SetPicture(SolidBitmap(200, 100, 0xFF0000FF));
  start.SetStateGlyph(lgsNormal, SolidBitmap(4, 4, 0xFFFF0000));
  start.SetBounds(10, 45, 40, 20);
  TCanvas canvas(200, 100);
  root.ComposeAll(canvas.Graphics());
  EXPECT_EQ(canvas.Pixel(20, 50), 0xFFFF0000u);  // the button lies on the picture
  EXPECT_EQ(canvas.Pixel(150, 90), 0xFF0000FFu);
  EXPECT_EQ(canvas.Pixel(20, 20), 0u);
  for (TLGControl* control : root.Controls()) EXPECT_TRUE(control->ParentDrawn()) << control->Name;
}

TEST_F(SkinRootTest, RemovedControlIsForgottenEvenWhileHoveredAndPressed) {
  root.MouseMove(20, 20);
  ASSERT_EQ(root.MouseDown(mbLeft, 20, 20), &start);
  root.Remove(start);
  EXPECT_EQ(root.Hovered(), nullptr);
  EXPECT_EQ(root.Captured(), nullptr);
  EXPECT_EQ(root.Controls().size(), 4u);
  root.MouseUp(mbLeft, 20, 20);
  EXPECT_EQ(root.ControlAt(20, 20, true), nullptr);
  ReleaseCapture();
}

// One click whose handler changes another control asks for one composition;
// the next change after the window took it asks again.
TEST_F(SkinRootTest, AClickAndItsHandlersChangesPostOneRedraw) {
  TCanvas canvas(200, 100);
  root.ComposeAll(canvas.Graphics());
  start.OnClick = [this](TLGControl&) { link.SetWideText(u"clicked"); };
  root.MouseDown(mbLeft, 20, 20);
  root.MouseUp(mbLeft, 20, 20);
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 1u);
  root.RedrawTaken();
  start.SetEnabled(false);
  start.SetEnabled(false);
  EXPECT_EQ(parent.Take(LGM_REDRAW).size(), 1u);
}
