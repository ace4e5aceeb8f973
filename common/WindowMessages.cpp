#include "common/WindowMessages.h"

#include <cstring>

uintptr_t NewPostedText(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return reinterpret_cast<uintptr_t>(copy);
}

std::string TakePostedText(uintptr_t wParam) {
  char* text = reinterpret_cast<char*>(wParam);
  if (!text) return std::string();
  std::string result(text);
  delete[] text;
  return result;
}
