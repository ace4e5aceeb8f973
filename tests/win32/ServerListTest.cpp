#include "ui/ServerList.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <vector>

#include "skin/SkinCanvas.h"
#include "support/MessagePump.h"
#include "support/TestSupport.h"

using namespace skintest;

namespace {

constexpr uint32_t NormalColour = 0xFF203040;
constexpr uint32_t ActiveColour = 0xFF406080;
constexpr uint32_t MarkColour = 0xFF10C020;
constexpr int MarkWidth = 24;

TPopupItem ServerItem(const std::string& text, int recommend) {
  TServerInfo record;
  record.name = std::u16string(text.begin(), text.end());
  record.member = "m";
  record.recommend = static_cast<uint8_t>(recommend);
  return TPopupItem{text, record};
}

std::vector<TPopupItem> Servers(size_t count) {
  std::vector<TPopupItem> items;
  for (size_t i = 0; i < count; ++i) items.push_back(ServerItem("Server " + std::to_string(i), 0));
  return items;
}

// The main window stand-in, the three picker images and the pop-up, whose
// close reports are recorded.
class ServerListTest : public TSkinTest {
protected:
  void SetUp() override {
    TSkinTest::SetUp();
    ASSERT_TRUE(owner.Ok()) << "run the Windows suite under xvfb-run";
    normal = SolidBitmap(245, 32, NormalColour);
    active = SolidBitmap(245, 32, ActiveColour);
    mark = SolidBitmap(MarkWidth, 32, MarkColour);
    ASSERT_TRUE(normal && active && mark);
    list = std::make_unique<TfrmServerList>(owner.Handle(), TServerListImages{active.get(), normal.get(), mark.get()},
                                            [this](std::optional<int> committed) { closes.push_back(committed); });
  }
  void TearDown() override { list.reset(); }

  void ShowAt(std::vector<TPopupItem> items, int current = -1, TPopupMode mode = TPopupMode::Servers) {
    ShowWindow(owner.Handle(), SW_SHOWNA);
    list->Show(TServerPopup(mode, std::move(items)), POINT{100, 120}, current);
    PumpMessages();
  }
  void Key(int key) {
    PostMessageA(list->ListHandle(), WM_KEYDOWN, static_cast<WPARAM>(key), 0);
    PumpMessages();
  }
  void MouseAt(UINT message, int y) {
    PostMessageA(list->ListHandle(), message, 0, MAKELPARAM(20, y));
    PumpMessages();
  }

  THiddenWindow owner;
  TGpBitmapPtr normal, active, mark;
  std::unique_ptr<TfrmServerList> list;
  std::vector<std::optional<int>> closes;
};

TEST_F(ServerListTest, EachShowingIsAnOwnedPopupWithDropShadowFreedAtItsClose) {
  EXPECT_EQ(nullptr, list->Handle());
  ShowAt(Servers(2));
  const HWND popup = list->Handle();
  ASSERT_NE(nullptr, popup);
  EXPECT_TRUE(IsWindowVisible(popup));
  EXPECT_EQ(popup, GetForegroundWindow());
  EXPECT_EQ(list->ListHandle(), GetFocus());
  EXPECT_EQ(owner.Handle(), GetWindow(popup, GW_OWNER));
  const LONG style = GetWindowLongA(popup, GWL_STYLE);
  EXPECT_EQ(static_cast<LONG>(WS_POPUP), style & ~static_cast<LONG>(WS_CLIPSIBLINGS | WS_VISIBLE));
  EXPECT_EQ(0, GetWindowLongA(popup, GWL_EXSTYLE) & (WS_EX_DLGMODALFRAME | WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE));
  EXPECT_NE(0u, GetClassLongA(popup, GCL_STYLE) & CS_DROPSHADOW);
  EXPECT_EQ(0, GetClassLongPtrA(popup, GCLP_HBRBACKGROUND));
  const LONG listStyle = GetWindowLongA(list->ListHandle(), GWL_STYLE);
  EXPECT_NE(0, listStyle & LBS_OWNERDRAWFIXED);
  EXPECT_EQ(0, listStyle & WS_BORDER);
  EXPECT_EQ(PopupItemHeight, SendMessageA(list->ListHandle(), LB_GETITEMHEIGHT, 0, 0));
  list->Cancel();
  EXPECT_FALSE(IsWindow(popup));
  EXPECT_EQ(nullptr, list->Handle());
  EXPECT_FALSE(list->Visible());
}

TEST_F(ServerListTest, SizedAndPlacedBelowThePoint) {
  struct TCase {
    size_t items;
    int height;
  };
  for (const TCase& c : {TCase{3, 98}, TCase{6, 194}, TCase{8, 194}, TCase{0, 2}}) {
    ShowAt(Servers(c.items));
    RECT frame;
    GetWindowRect(list->Handle(), &frame);
    EXPECT_EQ(100, frame.left) << c.items;
    EXPECT_EQ(120, frame.top) << c.items;
    EXPECT_EQ(PopupWidth, frame.right - frame.left) << c.items;
    EXPECT_EQ(c.height, frame.bottom - frame.top) << c.items;
    EXPECT_TRUE(list->Visible());
    EXPECT_EQ(static_cast<LRESULT>(c.items), SendMessageA(list->ListHandle(), LB_GETCOUNT, 0, 0));
    // The list sits inside the one-pixel frame.
    RECT inner;
    GetWindowRect(list->ListHandle(), &inner);
    EXPECT_EQ(101, inner.left) << c.items;
    EXPECT_EQ(121, inner.top) << c.items;
    EXPECT_EQ(frame.right - 1, inner.right) << c.items;
    EXPECT_EQ(frame.bottom - 1, inner.bottom) << c.items;
    list->Cancel();
  }
  // Every showing was closed without a commit.
  EXPECT_EQ((std::vector<std::optional<int>>(4, std::nullopt)), closes);
}

TEST_F(ServerListTest, PointerHighlightsAndAnyButtonCommitsTheItemUnderIt) {
  ShowAt(Servers(4));
  MouseAt(WM_MOUSEMOVE, 2 * PopupItemHeight + 5);
  EXPECT_EQ(2, list->Popup().Highlighted());
  EXPECT_EQ(2, SendMessageA(list->ListHandle(), LB_GETCURSEL, 0, 0));
  // Below the last item nothing stays highlighted.
  MouseAt(WM_MOUSEMOVE, 4 * PopupItemHeight + 1);
  EXPECT_EQ(-1, list->Popup().Highlighted());
  MouseAt(WM_MOUSEMOVE, 1 * PopupItemHeight + 1);
  MouseAt(WM_LBUTTONDOWN, 1 * PopupItemHeight + 1);
  EXPECT_EQ((std::vector<std::optional<int>>{1}), closes);
  EXPECT_FALSE(list->Visible());

  ShowAt(Servers(4));
  MouseAt(WM_MOUSEMOVE, 3 * PopupItemHeight + 1);
  MouseAt(WM_RBUTTONDOWN, 3 * PopupItemHeight + 1);
  ASSERT_EQ(2u, closes.size());
  EXPECT_EQ(3, closes[1]);
}

TEST_F(ServerListTest, EnterAndEscapeCommitTheHighlightedItem) {
  ShowAt(Servers(5), 1);
  EXPECT_EQ(1, list->Popup().Highlighted());
  // The arrow keys move the list's highlight; Enter applies it.
  Key(VK_DOWN);
  Key(VK_DOWN);
  EXPECT_EQ(3, list->Popup().Highlighted());
  Key(VK_RETURN);
  ASSERT_EQ(1u, closes.size());
  EXPECT_EQ(3, closes[0]);

  ShowAt(Servers(5), 4);
  Key(VK_ESCAPE);
  ASSERT_EQ(2u, closes.size());
  EXPECT_EQ(4, closes[1]);

  // A new showing starts with nothing highlighted: Escape only closes.
  ShowAt(Servers(5));
  EXPECT_EQ(-1, list->Popup().Highlighted());
  Key(VK_ESCAPE);
  ASSERT_EQ(3u, closes.size());
  EXPECT_EQ(std::nullopt, closes[2]);
  EXPECT_FALSE(list->Visible());
}

TEST_F(ServerListTest, FocusLossAndAnotherForegroundWindowCloseWithoutCommit) {
  ShowAt(Servers(3), 2);
  ASSERT_TRUE(list->Visible());
  // Focus moved to another window of the thread.
  SetFocus(owner.Handle());
  PumpMessages();
  ASSERT_EQ(1u, closes.size());
  EXPECT_EQ(std::nullopt, closes[0]);
  EXPECT_FALSE(list->Visible());

  // Another window in the foreground: the 10 ms check closes the pop-up.
  THiddenWindow other;
  ShowAt(Servers(3), 0);
  ASSERT_TRUE(list->Visible());
  ShowWindow(other.Handle(), SW_SHOWNA);
  SetForegroundWindow(other.Handle());
  EXPECT_TRUE(PumpUntil(2000, [&] { return closes.size() == 2; }));
  ASSERT_EQ(2u, closes.size());
  EXPECT_EQ(std::nullopt, closes[1]);
}

TEST_F(ServerListTest, HandlerMayShowTheNextList) {
  // The main window opens the server list right after a group was chosen.
  bool reopened = false;
  list = std::make_unique<TfrmServerList>(owner.Handle(), TServerListImages{active.get(), normal.get(), mark.get()},
                                          [&](std::optional<int> committed) {
                                            closes.push_back(committed);
                                            if (!reopened) {
                                              reopened = true;
                                              list->Show(TServerPopup(TPopupMode::Servers, Servers(2)), POINT{5, 5});
                                            }
                                          });
  ShowAt(Servers(3), 0, TPopupMode::Members);
  Key(VK_RETURN);
  PumpMessages();
  EXPECT_TRUE(list->Visible());
  EXPECT_EQ(TPopupMode::Servers, list->Popup().Mode());
  EXPECT_EQ((std::vector<std::optional<int>>{0}), closes);
}

// Pixels of one drawn item: background, mark and the shadowed text.
struct TItemPixels {
  int text = 0, shadow = 0, mark = 0, background = 0;
};

TItemPixels Inspect(GpBitmap* bitmap, uint32_t textColour, uint32_t backgroundColour) {
  TItemPixels seen;
  for (int y = 0; y < PopupItemHeight; ++y) {
    for (int x = 0; x < PopupWidth; ++x) {
      Gdiplus::ARGB pixel = 0;
      GdipBitmapGetPixel(bitmap, x, y, &pixel);
      seen.text += pixel == textColour;
      seen.shadow += pixel == ItemShadowColor;
      seen.mark += pixel == MarkColour;
      seen.background += pixel == backgroundColour;
    }
  }
  return seen;
}

TEST_F(ServerListTest, ItemsDrawTheirImagesColoursAndShadow) {
  std::vector<TPopupItem> items = {ServerItem("Recommended WWWW", 1), ServerItem("Plain WWWW", 0),
                                   TPopupItem{"Group WWWW", std::nullopt}};
  ShowAt(items);

  struct TCase {
    int index;
    bool highlighted;
    uint32_t text, background;
    bool mark;
  };
  for (const TCase& c : {TCase{0, false, ItemTextYellow, NormalColour, true},
                         TCase{0, true, ItemTextWhite, ActiveColour, true},
                         TCase{1, false, ItemTextGold, NormalColour, false},
                         TCase{1, true, ItemTextWhite, ActiveColour, false},
                         TCase{2, false, ItemTextGold, NormalColour, false}}) {
    TGpBitmapPtr bitmap = list->DrawItem(c.index, c.highlighted, PopupWidth);
    ASSERT_TRUE(bitmap) << c.index;
    const TItemPixels seen = Inspect(bitmap.get(), c.text, c.background);
    EXPECT_GT(seen.text, 0) << c.index << " " << c.highlighted;
    EXPECT_GT(seen.shadow, 0) << c.index << " " << c.highlighted;
    EXPECT_GT(seen.background, 0) << c.index << " " << c.highlighted;
    // The mark fills the item's right edge, full height.
    EXPECT_EQ(c.mark ? MarkWidth * PopupItemHeight : 0, seen.mark) << c.index << " " << c.highlighted;
    Gdiplus::ARGB corner = 0;
    GdipBitmapGetPixel(bitmap.get(), 2, 2, &corner);
    EXPECT_EQ(c.background, corner) << c.index;
  }
  // The text starts at x = 15; its shadow 2 pixels right and down.
  TGpBitmapPtr bitmap = list->DrawItem(1, false, PopupWidth);
  TBox text, shadow;
  for (int y = 0; y < PopupItemHeight; ++y) {
    for (int x = 0; x < PopupWidth; ++x) {
      Gdiplus::ARGB pixel = 0;
      GdipBitmapGetPixel(bitmap.get(), x, y, &pixel);
      TBox& box = pixel == ItemTextGold ? text : pixel == ItemShadowColor ? shadow : text;
      if (pixel != ItemTextGold && pixel != ItemShadowColor) continue;
      box.Left = std::min(box.Left, x);
      box.Top = std::min(box.Top, y);
      box.Right = std::max(box.Right, x);
      box.Bottom = std::max(box.Bottom, y);
    }
  }
  ASSERT_FALSE(text.Empty());
  ASSERT_FALSE(shadow.Empty());
  EXPECT_GE(text.Left, ItemTextLeft);
  EXPECT_LT(text.Left, ItemTextLeft + 6);
  // The text is centred vertically in the 32-pixel item.
  EXPECT_NEAR(PopupItemHeight / 2, (text.Top + text.Bottom) / 2, 4);
  EXPECT_GT(shadow.Right, text.Right);
  EXPECT_GT(shadow.Bottom, text.Bottom);
}

TEST_F(ServerListTest, MissingMarkImageIsNotDrawn) {
  list = std::make_unique<TfrmServerList>(owner.Handle(), TServerListImages{active.get(), normal.get(), nullptr},
                                          [](std::optional<int>) {});
  ShowAt({ServerItem("Recommended", 1)});
  TGpBitmapPtr bitmap = list->DrawItem(0, false, PopupWidth);
  ASSERT_TRUE(bitmap);
  Gdiplus::ARGB edge = 0;
  GdipBitmapGetPixel(bitmap.get(), PopupWidth - 2, 2, &edge);
  EXPECT_EQ(NormalColour, edge);
  EXPECT_EQ(nullptr, list->DrawItem(1, false, PopupWidth));
}

TEST_F(ServerListTest, FrameIsOrangeAroundTheList) {
  ShowAt(Servers(2));
  UpdateWindow(list->Handle());
  UpdateWindow(list->ListHandle());
  HDC dc = GetDC(list->Handle());
  ASSERT_NE(nullptr, dc);
  const COLORREF topLeft = GetPixel(dc, 0, 0);
  const COLORREF bottomRight = GetPixel(dc, PopupWidth - 1, PopupHeight(2) - 1);
  const COLORREF inside = GetPixel(dc, 5, 5);
  ReleaseDC(list->Handle(), dc);
  EXPECT_EQ(static_cast<COLORREF>(PopupFrameColor), topLeft);
  EXPECT_EQ(static_cast<COLORREF>(PopupFrameColor), bottomRight);
  // The list's first item shows the normal background inside the frame.
  EXPECT_EQ(RGB(0x20, 0x30, 0x40), inside);
}

}  // namespace

// A close handler that throws ends in the pop-up's window procedure, which
// logs it; the pop-up is closed and can be shown again.
TEST_F(ServerListTest, AThrowingHandlerIsLoggedByTheWindowProcedure) {
  TLogCapture log;
  list = std::make_unique<TfrmServerList>(owner.Handle(), TServerListImages{active.get(), normal.get(), mark.get()},
                                          [](std::optional<int>) { throw std::runtime_error("handler failed"); });
  ShowAt(Servers(3), 0);
  Key(VK_RETURN);
  EXPECT_EQ(1, log.CountContaining("server pop-up list: handler failed"));
  EXPECT_FALSE(list->Visible());
  ShowAt(Servers(2));
  EXPECT_TRUE(list->Visible());
}
