#include "platform/win32/WidePath.h"

#include <windows.h>

#include "platform/CodePage.h"

std::wstring WidePath(const std::string& path) {
  const std::u16string wide = Cp936ToUtf16(path);
  return std::wstring(wide.begin(), wide.end());
}

std::string WinErrorText(unsigned long error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string message;
  if (text) {
    for (const wchar_t* p = text; *p; ++p) message.push_back(static_cast<char16_t>(*p));
    LocalFree(text);
  }
  while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' '))
    message.pop_back();
  return message.empty() ? "System error " + std::to_string(error) : Utf16ToCp936(message);
}
