// The web panels of the launcher: the news browser inside the main window
// and TfrmWebPage, the small window that shows one page ("/web:" mode).
// Both host the system's WebBrowser control (TWebBrowserHost). Where the
// control cannot be created (no HTML engine installed) the host logs it and
// stays an empty child window: the launcher goes on without web content.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/win32/ComObjects.h"
#include "platform/win32/Window.h"
#include "skin/logic/SkinGeometry.h"

class TWebBrowserSite;
struct IWebBrowser2;

// One hosted WebBrowser control in a child window of its own, with the
// document-host flags WebHostFlags, no context menus and no tab stop.
class TWebBrowserHost {
public:
  struct TEvents {
    std::function<void()> documentComplete;
    // Return true to cancel the navigation.
    std::function<bool(const std::string& url)> beforeNavigate;
    // Return true to cancel the new window.
    std::function<bool(const std::string& url)> newWindow;
    std::function<void(const std::string& title)> titleChange;
  };

  // Creates the hidden child window at `bounds` of `parent` and the control
  // in it. A failed control is logged; the host then has no browser.
  TWebBrowserHost(HWND parent, const TRectI& bounds, TEvents events);
  ~TWebBrowserHost();
  TWebBrowserHost(const TWebBrowserHost&) = delete;
  TWebBrowserHost& operator=(const TWebBrowserHost&) = delete;

  // Navigates to `url` (code page 936); an existing folder becomes
  // "file:///" + folder; a blank text is not navigated. False without a
  // browser or when the control refuses.
  bool Navigate(const std::string& url);
  // Writes one line into the current document (the waiting line).
  bool WriteLine(const std::string& text);
  void SetBounds(const TRectI& bounds);
  void SetVisible(bool visible);
  // The panel's own visibility (its parent may still be hidden).
  bool Visible() const;
  bool HasBrowser() const;
  // The control itself (borrowed), or nullptr.
  IWebBrowser2* Control() const;
  HWND Handle() const { return FWindow.Get(); }

private:
  // OLE first: it outlasts the window and the site.
  TOleSession FOle;
  TWindowHandle FWindow;
  TComPtr<TWebBrowserSite> FSite;
};

// The news browser of the main window: created hidden at the news rectangle,
// navigated to the news page, shown at its first DocumentComplete or by the
// login look; every link it opens goes to OpenDecoratedUrl.
class TNewsBrowser {
public:
  // `opener` opens a decorated URL in the system browser (the shell's
  // "open" verb by default; tests pass their own).
  TNewsBrowser(HWND mainWindow, const TRectI& bounds,
               std::function<void(const std::string& url)> opener = nullptr);
  bool Navigate(const std::string& url);
  void Show() { FHost.SetVisible(true); }
  void Hide() { FHost.SetVisible(false); }
  bool Visible() const { return FHost.Visible(); }
  TWebBrowserHost& Host() { return FHost; }

  // The NewWindow3 handler: decorates `url` with the machine checksum and
  // opens it; the control opens no window of its own.
  void OpenDecoratedUrl(const std::string& url);

private:
  std::function<void(const std::string&)> FOpener;
  TWebBrowserHost FHost;
};

// Opens `url` with the shell's "open" verb, normal show command.
void ShellOpenUrl(const std::string& url);

// TfrmWebPage: caption "加载页面" until the page gives a title, dialog
// border, client area 457 x 558, centred; "about:blank" with the waiting
// line, then the address; Escape, the close box or a navigation to an
// address holding "#close" (any letter case) closes it.
class TfrmWebPage {
public:
  explicit TfrmWebPage(const std::string& url, HINSTANCE instance = GetModuleHandleA(nullptr));
  ~TfrmWebPage();
  TfrmWebPage(const TfrmWebPage&) = delete;
  TfrmWebPage& operator=(const TfrmWebPage&) = delete;

  // Shows the window and runs its message loop until it closes.
  void ShowModal();
  void Close();
  HWND Handle() const { return FWindow.Get(); }
  std::string Caption() const;
  TWebBrowserHost* Browser() { return FBrowser.get(); }
  // The close hook and the title change, as the control's events call them.
  bool BeforeNavigate(const std::string& url);
  void TitleChange(const std::string& title);

private:
  friend LRESULT CALLBACK WebPageWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // The window outlives the browser inside it.
  TWindowHandle FWindow;
  std::unique_ptr<TWebBrowserHost> FBrowser;
  bool FClosed = false;
};

// Creates a TfrmWebPage for `url` without owner, shows it modally and frees it.
void ShowWebPage(const std::string& url);
