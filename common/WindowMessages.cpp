#include "common/WindowMessages.h"

#include <cstring>
#include <mutex>
#include <unordered_set>

namespace {

// Every text made here and not yet taken. Window messages can be posted by
// any process of the desktop: a UM_STATUS_TEXT whose wParam was not made
// here is passed over instead of being read and freed.
struct TOutstandingTexts {
  std::mutex Lock;
  std::unordered_set<uintptr_t> Texts;
};

TOutstandingTexts& Outstanding() {
  static TOutstandingTexts* texts = new TOutstandingTexts;  // lives to the end: workers may post late
  return *texts;
}

}  // namespace

uintptr_t NewPostedText(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  const auto handle = reinterpret_cast<uintptr_t>(copy);
  TOutstandingTexts& outstanding = Outstanding();
  std::lock_guard<std::mutex> guard(outstanding.Lock);
  outstanding.Texts.insert(handle);
  return handle;
}

std::string TakePostedText(uintptr_t wParam) {
  {
    TOutstandingTexts& outstanding = Outstanding();
    std::lock_guard<std::mutex> guard(outstanding.Lock);
    if (outstanding.Texts.erase(wParam) == 0) return std::string();
  }
  char* text = reinterpret_cast<char*>(wParam);
  std::string result(text);
  delete[] text;
  return result;
}
