// The main window's HWND: its class, creation, timers and the procedure
// that hands every message to the window object.
#include <stdexcept>

#include "ui/MainSkin.h"

LRESULT CALLBACK MainSkinWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The object is attached once its controls exist; until then (and after
  // WM_NCDESTROY) the system handles the window alone.
  auto* form = reinterpret_cast<TfrmMainSkin*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!form) return DefWindowProcA(window, message, wParam, lParam);
  return form->Dispatch(message, wParam, lParam);
}

namespace {

void RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  if (GetClassInfoA(instance, MainWindowClassName, &windowClass)) return;
  windowClass.lpfnWndProc = MainSkinWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  // The whole client area is composed; the system never erases it.
  windowClass.hbrBackground = nullptr;
  // The class name field holds at most 63 characters and its terminator.
  char name[64] = {};
  lstrcpynA(name, MainWindowClassName, sizeof name);
  windowClass.lpszClassName = name;
  if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("RegisterClass failed");
}

}  // namespace

TSkinWindow::TSkinWindow(HINSTANCE instance, int clientWidth, int clientHeight) {
  RegisterMainWindowClass(instance);
  // No border and no caption; the system menu and minimise box let the
  // taskbar and SC_MINIMIZE minimise the window.
  const DWORD style = WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  FHandle = CreateWindowExA(0, MainWindowClassName, ApplicationTitle, style, left, top, width, height, nullptr, nullptr,
                            instance, nullptr);
  if (!FHandle) throw std::runtime_error("CreateWindowEx failed");
}

TSkinWindow::~TSkinWindow() {
  if (!FHandle) return;
  // Detach the object first: the destruction messages must not reach a
  // half-destroyed window object.
  SetWindowLongPtrA(FHandle, GWLP_USERDATA, 0);
  DestroyWindow(FHandle);
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
