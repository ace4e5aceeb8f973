#include "ui/WebPage.h"

#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "skin/SkinCanvas.h"
#include "support/TestSupport.h"
#include "ui/AdapterMac.h"
#include "ui/logic/WebLinks.h"

using namespace skintest;

namespace {

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Pumps messages for `milliseconds`: the control's work without an HTML
// engine happens here, if anywhere.
void PumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    Pump();
    Sleep(10);
  }
}

RECT ClientRect(HWND window) {
  RECT area{};
  GetClientRect(window, &area);
  return area;
}

// A page of nobody: no peer listens there.
const std::string DeadPage = "http://127.0.0.1:9/register?id=1";

using TWebPageTest = TSkinTest;

TEST_F(TWebPageTest, WindowHasItsCaptionSizeAndABrowserFillingIt) {
  TLogCapture log;
  TfrmWebPage page(DeadPage);
  const HWND form = page.Handle();
  ASSERT_NE(nullptr, form);
  EXPECT_EQ(WebPageCaption, page.Caption());
  const RECT client = ClientRect(form);
  EXPECT_EQ(WebPageClientWidth, client.right);
  EXPECT_EQ(WebPageClientHeight, client.bottom);
  // A dialog border: caption and close box, no sizing frame, no owner.
  const LONG style = GetWindowLongA(form, GWL_STYLE);
  EXPECT_EQ(static_cast<LONG>(WS_CAPTION), style & WS_CAPTION);
  EXPECT_NE(0, style & WS_SYSMENU);
  EXPECT_EQ(0, style & WS_THICKFRAME);
  EXPECT_EQ(nullptr, GetWindow(form, GW_OWNER));
  // Centred on the screen.
  RECT frame{};
  GetWindowRect(form, &frame);
  EXPECT_NEAR(GetSystemMetrics(SM_CXSCREEN) / 2, (frame.left + frame.right) / 2, 1);
  EXPECT_NEAR(GetSystemMetrics(SM_CYSCREEN) / 2, (frame.top + frame.bottom) / 2, 1);

  TWebBrowserHost* browser = page.Browser();
  ASSERT_NE(nullptr, browser);
  EXPECT_EQ(form, GetParent(browser->Handle()));
  const RECT inner = ClientRect(browser->Handle());
  EXPECT_EQ(WebPageClientWidth, inner.right);
  EXPECT_EQ(WebPageClientHeight, inner.bottom);
  EXPECT_TRUE(browser->Visible());
  EXPECT_EQ(0, GetWindowLongA(browser->Handle(), GWL_STYLE) & WS_TABSTOP);
  // Without an engine the control may be missing; that is logged, never hidden.
  std::cout << "WebBrowser control " << (browser->HasBrowser() ? "created" : "not created") << "\n";
  if (!browser->HasBrowser()) {
    bool logged = false;
    for (const std::string& line : log.Lines()) logged |= line.rfind("WebBrowser: ", 0) == 0;
    EXPECT_TRUE(logged);
  }
  PumpFor(300);
  EXPECT_TRUE(IsWindow(form));
}

TEST_F(TWebPageTest, TitlesBecomeTheCaptionAndCloseAddressesCloseIt) {
  TfrmWebPage page(DeadPage);
  ShowWindow(page.Handle(), SW_SHOWNA);
  // "新闻"
  const std::string title = "\xD0\xC2\xCE\xC5";
  page.TitleChange(title);
  EXPECT_EQ(title, page.Caption());
  page.TitleChange("Second page");
  EXPECT_EQ("Second page", page.Caption());

  // Other navigations go on; the window stays.
  EXPECT_FALSE(page.BeforeNavigate("http://127.0.0.1/next.html"));
  EXPECT_FALSE(page.BeforeNavigate("http://127.0.0.1/close.html"));
  EXPECT_TRUE(IsWindowVisible(page.Handle()));
  // Any letter case of "#close" cancels the navigation and closes.
  EXPECT_TRUE(page.BeforeNavigate("http://127.0.0.1/done#CLOSE"));
  EXPECT_FALSE(IsWindowVisible(page.Handle()));
}

bool SafetyClosed = false;

void CALLBACK SafetyClose(HWND window, UINT, UINT_PTR, DWORD) {
  SafetyClosed = true;
  PostMessageA(window, WM_CLOSE, 0, 0);
}

// Runs the modal loop with a safety close after two seconds; true when the
// loop ended before the safety close. (Without a window manager, Wine
// hides a captioned window only after a wait of its own, so the time the
// loop ran tells nothing.)
bool EndedByItself(TfrmWebPage& page) {
  SafetyClosed = false;
  SetTimer(page.Handle(), 77, 2000, SafetyClose);
  page.ShowModal();
  KillTimer(page.Handle(), 77);
  return !SafetyClosed;
}

TEST_F(TWebPageTest, ModalLoopEndsByEscapeCloseBoxOrTheEndOfTheProgram) {
  {
    TfrmWebPage page(DeadPage);
    // Escape pressed in the browser reaches the window first.
    PostMessageA(page.Browser()->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(EndedByItself(page));
    EXPECT_FALSE(IsWindowVisible(page.Handle()));
  }
  {
    TfrmWebPage page(DeadPage);
    PostMessageA(page.Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndedByItself(page));
  }
  {
    // Other keys go to the page: only the safety close ends the loop.
    TfrmWebPage page(DeadPage);
    PostMessageA(page.Browser()->Handle(), WM_KEYDOWN, 'A', 0);
    EXPECT_FALSE(EndedByItself(page));
  }
  {
    // The control's own navigation event reaches the close hook: an address
    // with "#Close" ends the window before it is shown.
    TfrmWebPage page("http://127.0.0.1:9/done#Close");
    if (page.Browser()->HasBrowser()) {
      EXPECT_TRUE(EndedByItself(page));
      EXPECT_FALSE(IsWindowVisible(page.Handle()));
    }
  }
  {
    TfrmWebPage page(DeadPage);
    PostQuitMessage(3);
    EXPECT_TRUE(EndedByItself(page));
    // The request to end the program stays for the loop that owns it.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(3u, msg.wParam);
  }
}

TEST_F(TWebPageTest, NewsBrowserStaysHiddenAtItsRectangleUntilShown) {
  THiddenWindow main;
  ASSERT_TRUE(main.Ok());
  main.Show();
  const TRectI bounds{20, 100, 260, 180};
  TNewsBrowser news(main.Handle(), bounds, [](const std::string&) {});
  const HWND panel = news.Host().Handle();
  EXPECT_EQ(main.Handle(), GetParent(panel));
  RECT placed{};
  GetWindowRect(panel, &placed);
  MapWindowPoints(nullptr, main.Handle(), reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(bounds.X, placed.left);
  EXPECT_EQ(bounds.Y, placed.top);
  EXPECT_EQ(bounds.Width, placed.right - placed.left);
  EXPECT_EQ(bounds.Height, placed.bottom - placed.top);

  // A blank address is not navigated; a real one without an engine neither
  // shows the panel nor hangs.
  EXPECT_FALSE(news.Navigate("  "));
  news.Navigate("http://127.0.0.1:9/news.html");
  TTempFolder folder;
  news.Navigate(folder.Path());
  PumpFor(500);
  EXPECT_FALSE(news.Visible());
  news.Show();
  EXPECT_TRUE(news.Visible());
  news.Hide();
  EXPECT_FALSE(news.Visible());
}

TEST_F(TWebPageTest, NewsLinksOpenDecoratedWithTheMachineChecksum) {
  THiddenWindow main;
  ASSERT_TRUE(main.Ok());
  std::vector<std::string> opened;
  TNewsBrowser news(main.Handle(), TRectI{0, 0, 100, 100}, [&](const std::string& url) { opened.push_back(url); });
  news.OpenDecoratedUrl("http://127.0.0.1/a?x=1");
  news.OpenDecoratedUrl("http://127.0.0.1/b");
  news.OpenDecoratedUrl("http://127.0.0.1/c?crc=1");
  ASSERT_EQ(3u, opened.size());
  const std::regex checksum("[0-9a-f]{32}");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(opened[0], found, checksum));
  const std::string crc = found.str();
  EXPECT_EQ("http://127.0.0.1/a?x=1&crc=" + crc, opened[0]);
  EXPECT_EQ("http://127.0.0.1/b?crc=" + crc, opened[1]);
  EXPECT_EQ("http://127.0.0.1/c?crc=1&crc=" + crc, opened[2]);
  // The checksum of this machine's adapters, as the links of the main
  // window's buttons carry it.
  EXPECT_EQ(ThisMachineCrc(), crc);
}

}  // namespace
