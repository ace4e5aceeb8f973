// ui-menu-hook.dll: the system loads it into the launcher's process when
// ui-probe hooks the messages of the launcher's thread. Under Wine a menu
// cannot be read from another process, so the system menu is read here, on
// the window's own thread, and its entries go back to the probe's window by
// WM_COPYDATA. A WM_NULL whose wParam is that window and whose lParam is
// MenuProbeTag asks for them.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/Window.h"
#include "tests/ui-wine/MenuProbe.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), length, nullptr, nullptr);
  bytes.resize(static_cast<size_t>(length - 1));
  return bytes;
}

// "menu=ID STATE TEXT" for every entry of the window's system menu.
std::string SystemMenuLines(HWND window) {
  const HMENU menu = GetSystemMenu(window, FALSE);
  const int count = menu ? GetMenuItemCount(menu) : -1;
  if (count < 0) return "menu=none\n";
  std::string lines;
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    char head[64];
    std::snprintf(head, sizeof head, "menu=%u %s ", GetMenuItemID(menu, i),
                  (state & (MF_GRAYED | MF_DISABLED)) ? "greyed" : "enabled");
    lines += head + Utf8(text) + "\n";
  }
  return lines;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK MenuHookProc(int code, WPARAM wParam, LPARAM lParam) {
  CatchAll("menu hook", 0, [&] {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code != HC_ACTION || wParam != PM_REMOVE || !message || message->message != WM_NULL ||
        message->lParam != MenuProbeTag || !message->wParam || !message->hwnd)
      return 0;
    const std::string lines = SystemMenuLines(message->hwnd);
    COPYDATASTRUCT data{MenuProbeTag, static_cast<DWORD>(lines.size()), const_cast<char*>(lines.data())};
    SendMessageW(reinterpret_cast<HWND>(message->wParam), WM_COPYDATA, reinterpret_cast<WPARAM>(message->hwnd),
                 reinterpret_cast<LPARAM>(&data));
    return 0;
  });
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
