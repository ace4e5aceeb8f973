#include "ui/WebPage.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>

#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "skin/SkinCanvas.h"
#include "support/MessagePump.h"
#include "support/TestSupport.h"
#include "ui/AdapterMac.h"
#include "ui/logic/WebLinks.h"

using namespace skintest;

namespace {

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

namespace {

// What the control sees of its container, asked as the control asks it.
class TContainerView {
public:
  explicit TContainerView(IWebBrowser2* control) {
    IOleObject* object = nullptr;
    if (FAILED(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)))) return;
    IOleClientSite* site = nullptr;
    object->GetClientSite(&site);
    object->Release();
    if (!site) return;
    site->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(&FHandler));
    site->Release();
    IConnectionPointContainer* points = nullptr;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)))) return;
    IConnectionPoint* point = nullptr;
    points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point);
    points->Release();
    if (!point) return;
    IEnumConnections* connections = nullptr;
    point->EnumConnections(&connections);
    point->Release();
    if (!connections) return;
    CONNECTDATA data{};
    if (connections->Next(1, &data, nullptr) == S_OK && data.pUnk) {
      data.pUnk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&FSink));
      data.pUnk->Release();
    }
    connections->Release();
  }
  ~TContainerView() {
    if (FHandler) FHandler->Release();
    if (FSink) FSink->Release();
  }
  TContainerView(const TContainerView&) = delete;
  TContainerView& operator=(const TContainerView&) = delete;
  IDocHostUIHandler* Handler() const { return FHandler; }

  // Fires `id` with `arguments` given first to last (the control passes
  // them last to first); true when the sink set the cancel flag `cancel`.
  bool Fire(DISPID id, std::vector<VARIANTARG> arguments, VARIANT_BOOL* cancel = nullptr) {
    std::vector<VARIANTARG> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (cancel) *cancel = VARIANT_FALSE;
    FSink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    return cancel && *cancel == VARIANT_TRUE;
  }
  bool HasSink() const { return FSink != nullptr; }

private:
  IDocHostUIHandler* FHandler = nullptr;
  IDispatch* FSink = nullptr;
};

VARIANTARG Bstr(BSTR text) {
  VARIANTARG value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text;
  return value;
}

VARIANTARG ByRef(VARIANT* inner) {
  VARIANTARG value;
  VariantInit(&value);
  value.vt = VT_BYREF | VT_VARIANT;
  value.pvarVal = inner;
  return value;
}

VARIANTARG CancelFlag(VARIANT_BOOL* flag) {
  VARIANTARG value;
  VariantInit(&value);
  value.vt = VT_BYREF | VT_BOOL;
  value.pboolVal = flag;
  return value;
}

VARIANTARG Empty() {
  VARIANTARG value;
  VariantInit(&value);
  return value;
}

TEST_F(TWebPageTest, ContainerGivesHostFlagsSuppressesMenusAndRoutesEvents) {
  THiddenWindow main;
  ASSERT_TRUE(main.Ok());
  std::vector<std::string> opened;
  TNewsBrowser news(main.Handle(), TRectI{0, 0, 100, 100}, [&](const std::string& url) { opened.push_back(url); });
  if (!news.Host().HasBrowser()) GTEST_SKIP() << "no WebBrowser control on this system";
  TContainerView view(news.Host().Control());
  ASSERT_NE(nullptr, view.Handler());
  ASSERT_TRUE(view.HasSink());

  DOCHOSTUIINFO info{};
  info.cbSize = sizeof info;
  ASSERT_EQ(S_OK, view.Handler()->GetHostInfo(&info));
  EXPECT_EQ(0x1004402Du, info.dwFlags);
  EXPECT_EQ(static_cast<DWORD>(DOCHOSTUIDBLCLK_DEFAULT), info.dwDoubleClick);
  // S_OK: the host has shown the menu itself, so no kind of menu appears.
  POINT at{5, 5};
  for (DWORD kind = 0; kind <= 10; ++kind)
    EXPECT_EQ(S_OK, view.Handler()->ShowContextMenu(kind, &at, nullptr, nullptr)) << kind;

  // NewWindow3 (ppDisp, Cancel, dwFlags, context, URL): the link opens
  // decorated and the control opens no window.
  const BSTR context = SysAllocString(L"http://127.0.0.1/news.html");
  const BSTR link = SysAllocString(L"http://127.0.0.1/item?id=7");
  VARIANT_BOOL cancel = VARIANT_FALSE;
  VARIANTARG flags = Empty();
  flags.vt = VT_I4;
  EXPECT_TRUE(view.Fire(DISPID_NEWWINDOW3, {Empty(), CancelFlag(&cancel), flags, Bstr(context), Bstr(link)}, &cancel));
  ASSERT_EQ(1u, opened.size());
  EXPECT_EQ("http://127.0.0.1/item?id=7&crc=" + ThisMachineCrc(), opened[0]);

  // DocumentComplete shows the panel.
  EXPECT_FALSE(news.Visible());
  view.Fire(DISPID_DOCUMENTCOMPLETE, {Empty(), Empty()});
  EXPECT_TRUE(news.Visible());
  SysFreeString(context);
  SysFreeString(link);
}

TEST_F(TWebPageTest, WebPageEventsCloseOnlyForCloseAddressesAndSetTheCaption) {
  TfrmWebPage page(DeadPage);
  if (!page.Browser()->HasBrowser()) GTEST_SKIP() << "no WebBrowser control on this system";
  ShowWindow(page.Handle(), SW_SHOWNA);
  TContainerView view(page.Browser()->Control());
  ASSERT_TRUE(view.HasSink());

  // BeforeNavigate2 (pDisp, URL, Flags, Target, PostData, Headers, Cancel).
  auto navigate = [&](const wchar_t* address) {
    VARIANT url;
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(address);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    const bool cancelled = view.Fire(
        DISPID_BEFORENAVIGATE2, {Empty(), ByRef(&url), Empty(), Empty(), Empty(), Empty(), CancelFlag(&cancel)}, &cancel);
    VariantClear(&url);
    return cancelled;
  };
  EXPECT_FALSE(navigate(L"http://127.0.0.1/next.html"));
  EXPECT_TRUE(IsWindowVisible(page.Handle()));

  // TitleChange (Text).
  const BSTR title = SysAllocString(L"\u65B0\u95FB");  // "新闻"
  view.Fire(DISPID_TITLECHANGE, {Bstr(title)});
  SysFreeString(title);
  EXPECT_EQ("\xD0\xC2\xCE\xC5", page.Caption());

  EXPECT_TRUE(navigate(L"http://127.0.0.1/x#cLoSe"));
  EXPECT_FALSE(IsWindowVisible(page.Handle()));
}

}  // namespace
