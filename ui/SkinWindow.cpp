// The main window's HWND: its class, creation, timers and the procedure
// that hands every message to the window object.
#include <stdexcept>

#include "platform/win32/Window.h"
#include "ui/MainSkin.h"

LRESULT CALLBACK MainSkinWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The object is attached once its controls exist; until then (and after
  // WM_NCDESTROY) the system handles the window alone.
  return DispatchToObject("main window", window, message, wParam, lParam, &TfrmMainSkin::Dispatch);
}

TSkinWindow::TSkinWindow(HINSTANCE instance, int clientWidth, int clientHeight) {
  // The whole client area is composed; the system never erases it.
  RegisterWindowClass(instance, {MainWindowClassName, MainSkinWindowProc});
  // No border and no caption; the system menu and minimise box let the
  // taskbar and SC_MINIMIZE minimise the window.
  const DWORD style = WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  FHandle.Reset(CreateWindowExA(0, MainWindowClassName, ApplicationTitle, style, left, top, width, height, nullptr,
                                nullptr, instance, nullptr));
  if (!FHandle) throw std::runtime_error("CreateWindowEx failed");
}

void TWindowTimer::Attach(HWND window) {
  FWindow = window;
  if (FEnabled && FWindow) SetTimer(FWindow, FId, FInterval, nullptr);
}

void TWindowTimer::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  if (!FWindow || !IsWindow(FWindow)) return;
  if (enabled) {
    SetTimer(FWindow, FId, FInterval, nullptr);
  } else {
    KillTimer(FWindow, FId);
  }
}
