#include "platform/win32/WidePath.h"

#include <windows.h>

#include "platform/CodePage.h"
#include "platform/LongPath.h"

std::wstring WideText(const std::string& text) {
  const std::u16string wide = Cp936ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::wstring WidePath(const std::string& path) {
  std::u16string wide = Cp936ToUtf16(path);
  if (wide.size() < ExtendedLengthFrom) return std::wstring(wide.begin(), wide.end());
  if (!IsFullWindowsPath(wide)) {
    // A relative path is taken from the current folder, as the system would.
    const std::wstring relative(wide.begin(), wide.end());
    const DWORD needed = GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
    if (needed > 0) {
      std::wstring full(needed, L'\0');
      const DWORD n = GetFullPathNameW(relative.c_str(), needed, &full[0], nullptr);
      if (n > 0 && n < needed) wide.assign(full.begin(), full.begin() + n);
    }
  }
  const std::u16string extended = ExtendedLengthPath(wide);
  return std::wstring(extended.begin(), extended.end());
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
