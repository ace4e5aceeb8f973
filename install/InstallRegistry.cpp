#include "install/InstallRegistry.h"

#include <vector>

#include "install/logic/InstallLocation.h"

TRegistryKey::~TRegistryKey() {
  if (FKey != nullptr) RegCloseKey(FKey);
}

bool TRegistryKey::Open(HKEY root, const std::string& path, bool create) {
  if (FKey != nullptr) RegCloseKey(FKey);
  FKey = nullptr;
  // A leading backslash names the path from the root.
  const std::string relative = !path.empty() && path[0] == '\\' ? path.substr(1) : path;
  const LONG result = create ? RegCreateKeyExA(root, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_ALL_ACCESS, nullptr, &FKey, nullptr)
                             : RegOpenKeyExA(root, relative.c_str(), 0, KEY_ALL_ACCESS, &FKey);
  if (result != ERROR_SUCCESS) FKey = nullptr;
  return FKey != nullptr;
}

std::string TRegistryKey::ReadString(const std::string& name) const {
  if (FKey == nullptr) return std::string();
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(FKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::string();
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > 65536) return std::string();
  std::vector<char> buffer(size + 1, '\0');
  if (RegQueryValueExA(FKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS)
    return std::string();
  return std::string(buffer.data());
}

bool TRegistryKey::WriteString(const std::string& name, const std::string& value) const {
  if (FKey == nullptr) return false;
  return RegSetValueExA(FKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
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
  char folder[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(folder, length) : std::string();
}
