// ui-probe: the Windows side of the player-view tests. It sees the launcher's
// window the way a second program does (by its class name) and renders the
// reference pictures that screenshots are compared with.
//
//   ui-probe facts              facts of the "Client Launcher" window, one
//                               "key=value" per line; exit 1 when none exists
//   ui-probe minimize           minimises that window (system command)
//   ui-probe menu               the entries of that window's system menu,
//                               one "menu=ID STATE TEXT" line each (STATE
//                               "enabled" or "greyed", TEXT in UTF-8 as
//                               GetMenuStringW gives it), read in the
//                               launcher's process by ui-menu-hook.dll;
//                               exit 1 when there is no window or no menu
//   ui-probe acp                prints the ANSI code page the system gives
//                               a program (GetACP)
//   ui-probe render EXE OUT.ppm LOOK [LABEL TEXT_HEX]
//                               composes the main window from EXE's package
//                               in LOOK (updating, login or skiplink), with
//                               LABEL's text set from TEXT_HEX (the UTF-8
//                               bytes in hexadecimal, turned into UTF-16
//                               without code page 936), and writes the
//                               picture as a binary PPM
//
// The reference text goes in through UTF-8 on purpose: a status line that
// reaches the screen through a wrong code page then differs from it. It is
// written in hexadecimal because Wine hands a program its command line in the
// ANSI code page of the prefix.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "package/PackageReader.h"
#include "platform/win32/Window.h"
#include "skin/Gdiplus.h"
#include "tests/ui-wine/MenuProbe.h"
#include "ui/MainSkin.h"

namespace {

HWND FindLauncher() { return FindWindowA(MainWindowClassName, nullptr); }

BOOL CALLBACK CountLauncherWindow(HWND window, LPARAM data) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) == MainWindowClassName) ++*reinterpret_cast<int*>(data);
  return TRUE;
}

BOOL CALLBACK CountDialog(HWND window, LPARAM data) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) == "#32770" && IsWindowVisible(window)) ++*reinterpret_cast<int*>(data);
  return TRUE;
}

// Counts the top-level windows of the launcher's class (a second start must
// not leave a second one), or the visible message boxes and dialogs (class
// "#32770", where an error box of the launcher shows up).
int CountWindows(WNDENUMPROC counter) {
  int count = 0;
  EnumWindows(counter, reinterpret_cast<LPARAM>(&count));
  return count;
}

int Facts() {
  const HWND window = FindLauncher();
  if (!window) {
    std::printf("found=0\n");
    return 1;
  }
  char className[256] = {};
  char title[256] = {};
  GetClassNameA(window, className, sizeof className);
  GetWindowTextA(window, title, sizeof title);
  RECT client{};
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  std::printf("found=1\nclass=%s\ntitle=%s\n", className, title);
  std::printf("client_width=%ld\nclient_height=%ld\n", client.right - client.left, client.bottom - client.top);
  std::printf("left=%ld\ntop=%ld\n", origin.x, origin.y);
  std::printf("visible=%d\niconic=%d\n", IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0);
  std::printf("caption=%d\nborder=%d\n", (style & WS_CAPTION) == WS_CAPTION ? 1 : 0,
              (style & (WS_BORDER | WS_THICKFRAME)) ? 1 : 0);
  std::printf("foreground=%d\ncount=%d\ndialogs=%d\npid=%lu\n", GetForegroundWindow() == window ? 1 : 0,
              CountWindows(CountLauncherWindow), CountWindows(CountDialog), pid);
  return 0;
}

int Minimize() {
  const HWND window = FindLauncher();
  if (!window) return 1;
  PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  return 0;
}

// The system menu's entries as ui-menu-hook.dll reads them in the
// launcher's own process (see MenuHook.cpp).
std::string GMenuLines;
bool GMenuAnswered = false;

LRESULT CALLBACK MenuAnswerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CatchAll("menu answer", LRESULT(0), [&]() -> LRESULT {
    if (message != WM_COPYDATA) return DefWindowProcW(window, message, wParam, lParam);
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data && data->dwData == static_cast<ULONG_PTR>(MenuProbeTag)) {
      GMenuLines.assign(static_cast<const char*>(data->lpData), data->cbData);
      GMenuAnswered = true;
    }
    return TRUE;
  });
}

struct THookRelease {
  void operator()(HHOOK hook) const { UnhookWindowsHookEx(hook); }
};
struct TModuleRelease {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};

int Menu() {
  const HWND window = FindLauncher();
  if (!window) return 1;
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dll = self;
  dll = dll.substr(0, dll.find_last_of("\\/") + 1) + MenuHookFile;
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, TModuleRelease> module(LoadLibraryA(dll.c_str()));
  const auto proc =
      module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module.get(), MenuHookName)))
             : nullptr;
  if (!proc) {
    std::fprintf(stderr, "cannot load %s\n", dll.c_str());
    return 1;
  }
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterWindowClass(instance, {"UiProbeMenuAnswer", MenuAnswerProc, 0, nullptr, true});
  const TWindowHandle answer(CreateWindowExW(0, L"UiProbeMenuAnswer", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                             instance, nullptr));
  const std::unique_ptr<std::remove_pointer_t<HHOOK>, THookRelease> hook(
      SetWindowsHookExW(WH_GETMESSAGE, proc, module.get(), GetWindowThreadProcessId(window, nullptr)));
  if (!answer || !hook) {
    std::fprintf(stderr, "cannot hook the launcher's thread\n");
    return 1;
  }
  PostMessageW(window, WM_NULL, reinterpret_cast<WPARAM>(answer.Get()), MenuProbeTag);
  const DWORD started = GetTickCount();
  while (!GMenuAnswered && GetTickCount() - started < 10000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  if (!GMenuAnswered) {
    std::fprintf(stderr, "no answer from the launcher's thread\n");
    return 1;
  }
  std::fwrite(GMenuLines.data(), 1, GMenuLines.size(), stdout);
  return GMenuLines.rfind("menu=none", 0) == 0 ? 1 : 0;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

std::u16string FromUtf8(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string wide(length, u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(wide.data()), length);
  return wide;
}

bool WritePpm(GpBitmap* bitmap, const std::string& path) {
  UINT width = 0, height = 0;
  Gdiplus::DllExports::GdipGetImageWidth(bitmap, &width);
  Gdiplus::DllExports::GdipGetImageHeight(bitmap, &height);
  Gdiplus::Rect rect(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  Gdiplus::BitmapData data{};
  if (Gdiplus::DllExports::GdipBitmapLockBits(bitmap, &rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                                              &data) != Gdiplus::Ok)
    return false;
  std::string out = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  out.reserve(out.size() + static_cast<size_t>(width) * height * 3);
  for (UINT y = 0; y < height; ++y) {
    const auto* row = static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
    for (UINT x = 0; x < width; ++x) {
      const uint8_t* pixel = row + x * 4;  // B, G, R, A
      out += static_cast<char>(pixel[2]);
      out += static_cast<char>(pixel[1]);
      out += static_cast<char>(pixel[0]);
    }
  }
  Gdiplus::DllExports::GdipBitmapUnlockBits(bitmap, &data);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  return std::fclose(file) == 0 && ok;
}

TLGLabel* LabelByName(TfrmMainSkin& form, const std::string& name) {
  if (name == "LBStatus") return &form.LBStatus;
  if (name == "lbIngUpdate") return &form.lbIngUpdate;
  return nullptr;
}

int Render(const std::vector<std::string>& args) {
  if (args.size() != 3 && args.size() != 5) return 2;
  const std::string& exe = args[0];
  const std::string& look = args[2];
  TGdiplusSession gdiplus;
  if (!gdiplus.Ok()) return 1;
  TLauncherConfig config;
  TPackageLocations locations;
  ReadPackage(exe, "launcher", config, locations);
  TfrmMainSkin form;
  form.EndsApplication = false;
  form.ResetComponentOffsetFrom(exe, locations);
  form.ApplyUpdatingLook();
  form.LoadImageresourceFrom(exe, locations);
  if (look == "login") {
    form.ApplyLoginLook();
  } else if (look == "skiplink") {
    form.ShowSkipLink();
  } else if (look != "updating") {
    std::fprintf(stderr, "unknown look %s\n", look.c_str());
    return 2;
  }
  if (args.size() == 5) {
    TLGLabel* label = LabelByName(form, args[3]);
    if (!label) {
      std::fprintf(stderr, "no label %s\n", args[3].c_str());
      return 2;
    }
    label->SetWideText(FromUtf8(FromHex(args[4])));
  }
  TGpBitmapPtr picture = form.ComposeBitmap();
  if (!picture || !WritePpm(picture.get(), args[1])) {
    std::fprintf(stderr, "render failed\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return 2;
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "facts") return Facts();
  if (command == "minimize") return Minimize();
  if (command == "menu") return Menu();
  if (command == "acp") return std::printf("%u\n", GetACP()) > 0 ? 0 : 1;
  if (command == "render") return Render(args);
  std::fprintf(stderr, "usage: ui-probe facts|minimize|menu|acp|render EXE OUT.ppm LOOK [LABEL TEXT_HEX]\n");
  return 2;
}
