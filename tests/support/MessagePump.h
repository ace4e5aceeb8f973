// The window tests' message loop: dispatches the thread's messages while a
// test waits for a state (never a fixed sleep where a state can be named).
// Windows builds only.
#pragma once
#include <windows.h>

#include <functional>

// Dispatches every message already queued for this thread.
inline void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Dispatches messages until `done` holds or `ms` milliseconds have passed;
// the last look at `done` is the result.
inline bool PumpUntil(DWORD ms, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  do {
    PumpMessages();
    if (done()) return true;
    Sleep(5);
  } while (GetTickCount() - start < ms);
  return done();
}

// Dispatches messages for `ms` milliseconds.
inline void PumpFor(DWORD ms) {
  PumpUntil(ms, [] { return false; });
}
