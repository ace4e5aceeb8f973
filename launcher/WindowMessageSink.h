// The update thread's way to the main window: PostMessageA. The sink lives
// as long as the thread that posts through it, which may outlive the window.
#pragma once
#include <windows.h>

#include "launcher/logic/PostingSink.h"

class TWindowMessageSink : public TPostingSink {
public:
  explicit TWindowMessageSink(HWND window) : FWindow(window) {}

protected:
  bool TryPost(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    return PostMessageA(FWindow, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
  }

private:
  const HWND FWindow;
};
