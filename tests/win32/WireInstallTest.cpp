// The install-location check of the real launcher under Wine: started
// outside a game folder while the first uninstall key names one, it copies
// itself there, puts the desktop shortcut on the copy and hands over; the
// copy deletes the first file and stays.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/PathUtils.h"
#include "install/InstallRegistry.h"
#include "install/ShellShortcut.h"
#include "install/logic/InstallLocation.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace {

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// The launcher of this build (without a package, so _LauName is empty and
// the shortcut is named ".lnk").
std::string LauncherProgram() { return ExtractFilePath(GetModuleFilePath()) + "..\\launcher\\launcher.exe"; }

bool WaitFor(DWORD ms, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
  return true;
}

// Sets "UninstallString" of the first uninstall key for the test's life and
// removes the value afterwards.
class TUninstallValue {
public:
  explicit TUninstallValue(const std::string& value) {
    FSet = FKey.Open(HKEY_LOCAL_MACHINE, UninstallKey1, true) && FKey.WriteString(UninstallValue, value);
  }
  ~TUninstallValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKey1, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, UninstallValue);
      RegCloseKey(key);
    }
  }
  bool Set() const { return FSet; }

private:
  TRegistryKey FKey;
  bool FSet = false;
};

// Ends the launcher window of another process, if one is up.
void CloseLauncherWindow() {
  const HWND window = FindWindowA("Client Launcher", nullptr);
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  WaitFor(10000, [] { return FindWindowA("Client Launcher", nullptr) == nullptr; });
}

}  // namespace

TEST(WireInstall, LauncherOutsideTheGameFolderMovesThereAndTheCopyDeletesTheFirst) {
  ASSERT_TRUE(FileExists(LauncherProgram())) << LauncherProgram();
  ASSERT_EQ(FindWindowA("Client Launcher", nullptr), nullptr);
  TTempFolder root;
  const std::string downloads = Backslashed(root / "downloads\\");
  const std::string game = Backslashed(root / "game\\");
  ASSERT_TRUE(ForceDirectories(downloads));
  ASSERT_TRUE(ForceDirectories(game + "data"));
  WriteWholeFile(game + GameMarkerLibrary, "x");
  WriteWholeFile(game + GameMarkerD3dx, "x");
  const std::string first = downloads + "launcher.exe";
  ASSERT_TRUE(CopyFileAt(LauncherProgram(), first));
  const std::string link = ShortcutPath(DesktopFolderText(ReadDesktopValue(), WindowsFolder()), "");
  DeleteFileAt(link);

  TUninstallValue uninstall(game + "uninst.exe");
  ASSERT_TRUE(uninstall.Set());
  TStartedProcess started = StartProcess(first, "");
  ASSERT_TRUE(static_cast<bool>(started));
  // The first copy ends by itself once it has handed over.
  EXPECT_TRUE(started.WaitForExit(30000));
  EXPECT_TRUE(WaitFor(15000, [&] { return FileExists(game + "launcher.exe"); }));
  EXPECT_TRUE(WaitFor(15000, [&] { return !FileExists(first); })) << "the copy did not delete " << first;
  EXPECT_TRUE(FileExists(link));
  EXPECT_TRUE(SameFolder(ReadShellShortcutTarget(link), game + "launcher.exe")) << ReadShellShortcutTarget(link);
  // The copy in the game folder goes on with its window.
  EXPECT_TRUE(WaitFor(15000, [] { return FindWindowA("Client Launcher", nullptr) != nullptr; }));
  CloseLauncherWindow();
  DeleteFileAt(link);
}
