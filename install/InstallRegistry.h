// The registry places of the install-location check: the desktop folder of
// the Shell Folders key and the game's two uninstall keys.
#pragma once
#include <windows.h>

#include <string>

// One open registry key, closed by its owner.
class TRegistryKey {
public:
  TRegistryKey() = default;
  ~TRegistryKey();
  TRegistryKey(const TRegistryKey&) = delete;
  TRegistryKey& operator=(const TRegistryKey&) = delete;
  // Opens `path` below `root` with full access; `create` makes it when absent.
  bool Open(HKEY root, const std::string& path, bool create);
  // The string value, empty when it is missing or not a string.
  std::string ReadString(const std::string& name) const;
  bool WriteString(const std::string& name, const std::string& value) const;

private:
  HKEY FKey = nullptr;
};

// The "Desktop" value of HKEY_CURRENT_USER's Shell Folders key (the key is
// not created), empty when it cannot be read.
std::string ReadDesktopValue();
// "UninstallString" of uninstall key 1 or 2 below HKEY_LOCAL_MACHINE (the
// key is created when absent, as the check has always done), empty when it
// cannot be read.
std::string ReadUninstallString(int key);
// Writes the game folder as "UninstallString" of the second key when that
// key opens (it is not created here).
bool WriteSecondUninstallString(const std::string& gameFolder);
// The Windows folder, for a desktop value that is empty.
std::string WindowsFolder();
