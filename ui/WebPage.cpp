// TfrmWebPage: the window of the "/web:" mode, one page in a browser.
#include "ui/WebPage.h"

#include <stdexcept>

#include "platform/CodePage.h"
#include "platform/win32/Window.h"
#include "ui/logic/WebLinks.h"

LRESULT CALLBACK WebPageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DispatchToObject("web page window", window, message, wParam, lParam, &TfrmWebPage::WindowProc);
}

namespace {

constexpr const char* WebPageClassName = "TfrmWebPage";
// A dialog border: caption and close box, no resizing.
constexpr DWORD WebPageStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD WebPageExStyle = WS_EX_DLGMODALFRAME;

void SetCaption(HWND window, const std::string& text) {
  const std::u16string wide = Cp936ToUtf16(text);
  SetWindowTextW(window, reinterpret_cast<const wchar_t*>(wide.c_str()));
}

// The window of `child`'s top-level ancestor is `form`.
bool Inside(HWND child, HWND form) { return child == form || (child && GetAncestor(child, GA_ROOT) == form); }

}  // namespace

TfrmWebPage::TfrmWebPage(const std::string& url, HINSTANCE instance) {
  // A wide window: its caption holds any title a page gives. The browser
  // covers the client area; the system never erases it.
  TWindowClass windowClass{WebPageClassName, WebPageWindowProc};
  windowClass.Unicode = true;
  RegisterWindowClass(instance, windowClass);
  RECT frame = {0, 0, WebPageClientWidth, WebPageClientHeight};
  AdjustWindowRectEx(&frame, WebPageStyle, FALSE, WebPageExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  const std::string ascii(WebPageClassName);
  const std::wstring className(ascii.begin(), ascii.end());
  FWindow.Reset(CreateWindowExW(WebPageExStyle, className.c_str(), L"", WebPageStyle, left, top, width, height, nullptr,
                                nullptr, instance, nullptr));
  if (!FWindow) throw std::runtime_error("CreateWindowEx failed");
  // From here a throw destroys the window, detached, on the way out.
  SetCaption(Handle(), WebPageCaption);
  FWindow.Attach(this);

  TWebBrowserHost::TEvents events;
  events.beforeNavigate = [this](const std::string& target) { return BeforeNavigate(target); };
  events.titleChange = [this](const std::string& title) { TitleChange(title); };
  // DocumentComplete does nothing here; NewWindow3 is left to the control.
  FBrowser = std::make_unique<TWebBrowserHost>(Handle(), TRectI{0, 0, WebPageClientWidth, WebPageClientHeight},
                                               std::move(events));
  FBrowser->SetVisible(true);
  FBrowser->Navigate("about:blank");
  FBrowser->WriteLine(WebPageWaitingLine);
  FBrowser->Navigate(url);
}

TfrmWebPage::~TfrmWebPage() {
  // The browser goes while its parent still exists.
  FBrowser.reset();
}

void TfrmWebPage::ShowModal() {
  // A page may ask to close during its first navigation, before the window
  // was ever shown.
  if (FClosed) return;
  // Shown, then brought to the foreground: a window that is active when it
  // appears becomes a managed X window under Wine, and hiding that one
  // waits seconds for a window manager.
  ShowWindow(Handle(), SW_SHOWNA);
  SetForegroundWindow(Handle());
  SetFocus(FBrowser->Handle());
  MSG msg;
  while (!FClosed) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The end of the program was asked for: the loop that owns it sees it too.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got < 0) break;
    // Key preview: Escape anywhere in the window closes it.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && Inside(msg.hwnd, Handle())) {
      Close();
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  Close();
}

void TfrmWebPage::Close() {
  if (FClosed) return;
  FClosed = true;
  ShowWindow(Handle(), SW_HIDE);
}

std::string TfrmWebPage::Caption() const {
  wchar_t text[512] = {};
  const int length = GetWindowTextW(Handle(), text, 512);
  return Utf16ToCp936(std::u16string(text, text + length));
}

bool TfrmWebPage::BeforeNavigate(const std::string& url) {
  if (!IsCloseRequest(url)) return false;
  Close();
  return true;
}

void TfrmWebPage::TitleChange(const std::string& title) { SetCaption(Handle(), title); }

LRESULT TfrmWebPage::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CHAR:
      if (wParam == VK_ESCAPE) {
        Close();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(Handle(), message, wParam, lParam);
}

void ShowWebPage(const std::string& url) {
  TfrmWebPage page(url);
  page.ShowModal();
}
