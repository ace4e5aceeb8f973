// Owners of the shell's windows: the one class registration every window
// uses, the HWND owner that detaches its object before the window goes, and
// the guard that keeps an exception inside a window procedure or a COM
// callback (the system cannot carry one through its frames).
#pragma once
#include <windows.h>

#include <exception>

// A window class: a procedure, a name of ASCII letters, the class style and
// the background brush (none: the window paints all of its client area).
// A Unicode class makes windows that take any caption text.
struct TWindowClass {
  const char* Name = nullptr;
  WNDPROC Procedure = nullptr;
  UINT Style = 0;
  HBRUSH Background = nullptr;
  bool Unicode = false;
};

// Registers the class once per process and module; an existing one is kept.
// Throws std::runtime_error when the system refuses it.
void RegisterWindowClass(HINSTANCE instance, const TWindowClass& windowClass);

// One window. Its procedure finds the object through GWLP_USERDATA; the
// owner clears that before destroying the window, so no message of the
// destruction reaches an object that is half gone. A constructor that
// throws after creating its window destroys it on the way out.
class TWindowHandle {
public:
  TWindowHandle() = default;
  explicit TWindowHandle(HWND handle) : FHandle(handle) {}
  ~TWindowHandle() { Reset(); }
  TWindowHandle(const TWindowHandle&) = delete;
  TWindowHandle& operator=(const TWindowHandle&) = delete;

  HWND Get() const { return FHandle; }
  explicit operator bool() const { return FHandle != nullptr; }
  // Lets the window's procedure reach `object` (GWLP_USERDATA).
  void Attach(void* object);
  // Detaches and destroys the window held, then holds `handle`.
  void Reset(HWND handle = nullptr);
  // Forgets the window without destroying it (the system destroyed it).
  void Release() { FHandle = nullptr; }

private:
  HWND FHandle = nullptr;
};

// Logs what escaped a window procedure or a callback (`where` names it).
void LogEscaped(const char* where, const char* what) noexcept;

// Runs `body` and returns its result; anything it throws is logged and
// `fallback` returned instead.
template <class TResult, class TBody>
TResult CatchAll(const char* where, TResult fallback, TBody&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    LogEscaped(where, error.what());
  } catch (...) {
    LogEscaped(where, "unknown exception");
  }
  return fallback;
}

// The procedure of a window whose object is attached (TWindowHandle::Attach):
// the object's `handler` takes every message, the system's default handling
// those before it is attached and after it is detached; what escapes is
// logged.
template <class TObject>
LRESULT DispatchToObject(const char* where, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                         LRESULT (TObject::*handler)(UINT, WPARAM, LPARAM)) noexcept {
  return CatchAll(where, LRESULT(0), [&] {
    auto* object = reinterpret_cast<TObject*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (object) return (object->*handler)(message, wParam, lParam);
    return IsWindowUnicode(window) ? DefWindowProcW(window, message, wParam, lParam)
                                   : DefWindowProcA(window, message, wParam, lParam);
  });
}
