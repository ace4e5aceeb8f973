// The news browser of the main window and the system browser for its links.
#include <windows.h>
#include <shellapi.h>

#include "common/Log.h"
#include "platform/CodePage.h"
#include "ui/AdapterMac.h"
#include "ui/WebPage.h"
#include "ui/logic/WebLinks.h"

void ShellOpenUrl(const std::string& url) {
  const std::u16string wide = Cp936ToUtf16(url);
  ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(wide.c_str()), nullptr, nullptr, SW_SHOWNORMAL);
}

namespace {

TWebBrowserHost::TEvents NewsEvents(TNewsBrowser& news) {
  TWebBrowserHost::TEvents events;
  events.documentComplete = [&news] { news.Show(); };
  // Every followed link asks for a new window (DOCHOSTUIFLAG_OPENNEWWIN):
  // it opens decorated in the system browser, the panel stays on the news.
  events.newWindow = [&news](const std::string& url) {
    news.OpenDecoratedUrl(url);
    return true;
  };
  return events;
}

}  // namespace

TNewsBrowser::TNewsBrowser(HWND mainWindow, const TRectI& bounds, std::function<void(const std::string&)> opener)
    : FOpener(opener ? std::move(opener) : ShellOpenUrl), FHost(mainWindow, bounds, NewsEvents(*this)) {
  FHost.SetVisible(false);
}

bool TNewsBrowser::Navigate(const std::string& url) { return FHost.Navigate(url); }

void TNewsBrowser::OpenDecoratedUrl(const std::string& url) {
  if (!IsWebLink(url)) {
    LogError("news link dropped, not http or https: " + url);
    return;
  }
  FOpener(DecorateUrl(url, ThisMachineCrc()));
}
