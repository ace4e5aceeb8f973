#include "platform/win32/Window.h"

#include <stdexcept>
#include <string>

#include "platform/DebugOutput.h"

void RegisterWindowClass(HINSTANCE instance, const TWindowClass& windowClass) {
  BOOL registered;
  if (windowClass.Unicode) {
    const std::string ascii(windowClass.Name);
    const std::wstring name(ascii.begin(), ascii.end());
    WNDCLASSW wide = {};
    if (GetClassInfoW(instance, name.c_str(), &wide)) return;
    wide.style = windowClass.Style;
    wide.lpfnWndProc = windowClass.Procedure;
    wide.hInstance = instance;
    wide.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wide.hbrBackground = windowClass.Background;
    wide.lpszClassName = name.c_str();
    registered = RegisterClassW(&wide) != 0;
  } else {
    WNDCLASSA narrow = {};
    if (GetClassInfoA(instance, windowClass.Name, &narrow)) return;
    narrow.style = windowClass.Style;
    narrow.lpfnWndProc = windowClass.Procedure;
    narrow.hInstance = instance;
    narrow.hCursor = LoadCursor(nullptr, IDC_ARROW);
    narrow.hbrBackground = windowClass.Background;
    narrow.lpszClassName = windowClass.Name;
    registered = RegisterClassA(&narrow) != 0;
  }
  if (!registered && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error(std::string("RegisterClass failed: ") + windowClass.Name);
}

void TWindowHandle::Attach(void* object) {
  if (FHandle) SetWindowLongPtrW(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
}

void TWindowHandle::Reset(HWND handle) {
  const HWND old = FHandle;
  FHandle = handle;
  if (!old || old == handle || !IsWindow(old)) return;
  SetWindowLongPtrW(old, GWLP_USERDATA, 0);
  DestroyWindow(old);
}

void LogEscaped(const char* where, const char* what) noexcept {
  try {
    DebugOutput(std::string(where) + ": " + what);
  } catch (...) {
    // Nothing is left to report with.
  }
}
