// Messages posted to the main window (WM_USER + n), and the sink through
// which workers post them. The Windows sink is PostMessageA; tests and the
// command-line tools use a queue.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t WmUser = 0x400;
constexpr uint32_t UM_ACTIVATE = 0x401;
constexpr uint32_t UM_CURRENT_PROGRESS = 0x465;
constexpr uint32_t UM_TOTAL_PROGRESS = 0x466;
constexpr uint32_t UM_DOWNLOAD_SPEED = 0x467;
constexpr uint32_t UM_UPDATE_DONE = 0x468;
constexpr uint32_t UM_STATUS_TEXT = 0x46B;
constexpr uint32_t UM_UPDATE_ERROR = 0x46C;
constexpr uint32_t LGM_REDRAW = 0x7E8;

class TMessageSink {
public:
  virtual ~TMessageSink() = default;
  // Posts without waiting for the receiver; callable from any thread.
  virtual void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// A text travels as a heap copy whose ownership passes to the receiver:
// NewPostedText makes it (wParam), TakePostedText reads and frees it. A
// value that NewPostedText did not make (or that was taken already) gives an
// empty text and is not touched.
uintptr_t NewPostedText(const std::string& text);
std::string TakePostedText(uintptr_t wParam);
