// The system's profile functions, given code page 936 texts as wide strings.
#include <windows.h>

#include <vector>

#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/win32/WidePath.h"

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
  std::vector<wchar_t> buffer(2048);
  const DWORD n = GetPrivateProfileStringW(WideText(section).c_str(), WideText(key).c_str(),
                                           WideText(defaultValue).c_str(), buffer.data(),
                                           static_cast<DWORD>(buffer.size()), WidePath(path).c_str());
  return Utf16ToCp936(std::u16string(buffer.data(), buffer.data() + n));
}

void WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  if (!WritePrivateProfileStringW(WideText(section).c_str(), WideText(key).c_str(), WideText(value).c_str(),
                                  WidePath(path).c_str()))
    throw EIniFileError("Unable to write to " + path);
}

void EraseIniSection(const std::string& path, const std::string& section) {
  WritePrivateProfileStringW(WideText(section).c_str(), nullptr, nullptr, WidePath(path).c_str());
}
