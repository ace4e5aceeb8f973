#include <windows.h>

#include "platform/CodePage.h"

namespace {

std::u16string ToUtf16(const std::string& text, UINT codePage) {
  if (text.empty()) return std::u16string();
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string result(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(result.data()), n);
  return result;
}

std::string FromUtf16(const std::u16string& text, UINT codePage) {
  if (text.empty()) return std::string();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int n = WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), result.data(), n, nullptr, nullptr);
  return result;
}

}  // namespace

std::u16string Cp936ToUtf16(const std::string& text) { return ToUtf16(text, 936); }
std::string Utf16ToCp936(const std::u16string& text) { return FromUtf16(text, 936); }
std::string Cp936ToUtf8(const std::string& text) { return FromUtf16(ToUtf16(text, 936), CP_UTF8); }
std::string Utf8ToCp936(const std::string& text) { return FromUtf16(ToUtf16(text, CP_UTF8), 936); }
