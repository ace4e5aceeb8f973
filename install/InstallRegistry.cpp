#include "install/InstallRegistry.h"

#include <vector>

#include "install/logic/InstallLocation.h"
#include "platform/CodePage.h"

TRegistryKey::~TRegistryKey() {
  if (FKey != nullptr) RegCloseKey(FKey);
}

namespace {

// Key names and values are code page 936 texts here and go to the system wide.
std::wstring Wide(const std::string& text) {
  const std::u16string wide = Cp936ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

}  // namespace

bool TRegistryKey::Open(HKEY root, const std::string& path, bool create) {
  if (FKey != nullptr) RegCloseKey(FKey);
  FKey = nullptr;
  // A leading backslash names the path from the root.
  const std::wstring relative = Wide(!path.empty() && path[0] == '\\' ? path.substr(1) : path);
  const LONG result = create ? RegCreateKeyExW(root, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_ALL_ACCESS, nullptr, &FKey, nullptr)
                             : RegOpenKeyExW(root, relative.c_str(), 0, KEY_ALL_ACCESS, &FKey);
  if (result != ERROR_SUCCESS) FKey = nullptr;
  return FKey != nullptr;
}

std::string TRegistryKey::ReadString(const std::string& name) const {
  if (FKey == nullptr) return std::string();
  const std::wstring wideName = Wide(name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(FKey, wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::string();
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > 131072) return std::string();
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(FKey, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS)
    return std::string();
  std::u16string text;
  for (size_t i = 0; i < buffer.size() && buffer[i] != L'\0'; ++i) text.push_back(static_cast<char16_t>(buffer[i]));
  return Utf16ToCp936(text);
}

bool TRegistryKey::WriteString(const std::string& name, const std::string& value) const {
  if (FKey == nullptr) return false;
  const std::wstring wide = Wide(value);
  return RegSetValueExW(FKey, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::string ReadDesktopValue() {
  TRegistryKey key;
  if (!key.Open(HKEY_CURRENT_USER, ShellFoldersKey, false)) return std::string();
  return key.ReadString(DesktopValue);
}

std::string ReadUninstallString(int number) {
  TRegistryKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, number == 1 ? UninstallKey1 : UninstallKey2, true)) return std::string();
  return key.ReadString(UninstallValue);
}

bool WriteSecondUninstallString(const std::string& gameFolder) {
  TRegistryKey key;
  return key.Open(HKEY_LOCAL_MACHINE, UninstallKey2, false) && key.WriteString(UninstallValue, gameFolder);
}

std::string WindowsFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return Utf16ToCp936(std::u16string(folder, folder + length));
}
