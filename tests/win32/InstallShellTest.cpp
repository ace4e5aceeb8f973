#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/CommandLine.h"
#include "install/InstallCheck.h"
#include "install/InstallRegistry.h"
#include "install/ShellShortcut.h"
#include "install/logic/HandOver.h"
#include "install/logic/InstallLocation.h"
#include "platform/File.h"
#include "support/TestSupport.h"
#include "ui/AdapterMac.h"
#include "ui/logic/WebLinks.h"

namespace {

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace

TEST(InstallShell, ShortcutIsARealLinkWhoseTargetReadsBack) {
  TTempFolder folder;
  const std::string game = Backslashed(folder / "Game Folder\\");
  ASSERT_TRUE(ForceDirectories(game));
  const std::string target = game + "launcher.exe";
  WriteWholeFile(target, "MZ");
  const std::string link = Backslashed(ShortcutPath(folder.Path(), "Quellan"));
  ASSERT_TRUE(CreateShellShortcut(target, "", "Quellan", link));
  EXPECT_TRUE(FileExists(link));
  // A Shell Link file starts with its header size 0x4C and the class id.
  const std::string bytes = ReadWholeFile(link);
  ASSERT_GT(bytes.size(), 20u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x4C\x00\x00\x00", 4));
  EXPECT_EQ(bytes.substr(4, 4), std::string("\x01\x14\x02\x00", 4));
  EXPECT_TRUE(SameFolder(ReadShellShortcutTarget(link), target)) << ReadShellShortcutTarget(link);
  // An existing link is overwritten with the new target.
  const std::string second = game + "other.exe";
  WriteWholeFile(second, "MZ");
  ASSERT_TRUE(CreateShellShortcut(second, "", "Quellan", link));
  EXPECT_TRUE(SameFolder(ReadShellShortcutTarget(link), second)) << ReadShellShortcutTarget(link);
  EXPECT_EQ(ReadShellShortcutTarget(folder / "missing.lnk"), "");
}

TEST(InstallShell, RegistryKeyReadsWritesAndOpensWithoutCreating) {
  const std::string path = "Software\\LauncherTests\\k" + std::to_string(std::random_device()());
  {
    TRegistryKey missing;
    EXPECT_FALSE(missing.Open(HKEY_CURRENT_USER, path, false));
    EXPECT_EQ(missing.ReadString(UninstallValue), "");
    EXPECT_FALSE(missing.WriteString(UninstallValue, "x"));
  }
  {
    TRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "\\" + path, true));
    EXPECT_EQ(key.ReadString(UninstallValue), "");
    EXPECT_TRUE(key.WriteString(UninstallValue, "C:\\Quellan\xCE\xA2\xB6\xCB\\uninst.exe"));
  }
  TRegistryKey again;
  ASSERT_TRUE(again.Open(HKEY_CURRENT_USER, path, false));
  EXPECT_EQ(again.ReadString(UninstallValue), "C:\\Quellan\xCE\xA2\xB6\xCB\\uninst.exe");
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS);
  // The parent goes too once no other test's key is left in it.
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\LauncherTests");
}

TEST(InstallShell, DesktopFolderIsAFolderWithItsBackslash) {
  const std::string desktop = DesktopFolderText(ReadDesktopValue(), WindowsFolder());
  ASSERT_GT(desktop.size(), 3u);
  EXPECT_EQ(desktop.back(), '\\');
  EXPECT_TRUE(DirectoryExists(desktop)) << desktop;
}

TEST(InstallShell, AdapterAddressTextAndMachineCrc) {
  for (int n = 0; n < 4; ++n) {
    const std::string mac = GetAdapterMacString(n);
    // Empty, or pairs of upper-case hexadecimal digits joined by "-".
    for (size_t i = 0; i < mac.size(); ++i) {
      const char c = mac[i];
      if (i % 3 == 2)
        EXPECT_EQ(c, '-') << mac;
      else
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << mac;
    }
    EXPECT_TRUE(mac.empty() || mac.size() % 3 == 2) << mac;
  }
  EXPECT_EQ(GetAdapterMacString(100000), "");
  const std::string crc = ThisMachineCrc();
  EXPECT_EQ(crc.size(), 32u);
  EXPECT_EQ(crc.find_first_not_of("0123456789abcdef"), std::string::npos) << crc;
}

namespace {

// A launcher somewhere, a desktop, and what the check started.
struct TInstallScene {
  TTempFolder root;
  std::string downloads = Backslashed(root / "My Downloads\\");
  std::string desktop = Backslashed(root / "Desktop\\");
  std::string program = downloads + "launcher.exe";
  std::string key1, key2, secondKeyWritten;
  std::string started, startedWith;
  int asked = 0;
  std::string proposed;
  std::string answer;  // empty: the player cancels
  bool startWorks = true;

  TInstallScene() {
    ForceDirectories(downloads);
    ForceDirectories(desktop);
    WriteWholeFile(program, "MZ launcher");
  }
  TInstallCheckInputs Inputs() {
    TInstallCheckInputs inputs;
    inputs.programPath = program;
    inputs.launcherName = "Quellan";
    inputs.desktopFolder = desktop;
    inputs.readUninstall = [this](int key) { return key == 1 ? key1 : key2; };
    inputs.writeSecondKey = [this](const std::string& folder) {
      secondKeyWritten = folder;
      return true;
    };
    inputs.askPlayer = [this](std::string& folder) {
      ++asked;
      proposed = folder;
      folder = answer;
      return !answer.empty();
    };
    inputs.startCopy = [this](const std::string& copy, const std::string& parameter) {
      started = copy;
      startedWith = parameter;
      return startWorks;
    };
    return inputs;
  }
};

void MakeGameFolder(const std::string& folder) {
  ForceDirectories(folder + "data");
  WriteWholeFile(folder + GameMarkerLibrary, "x");
  WriteWholeFile(folder + GameMarkerD3dx, "x");
}

}  // namespace

TEST(InstallCheck, LauncherOutsideTheGameFolderCopiesItselfAndHandsOver) {
  TInstallScene scene;
  const std::string game = Backslashed(scene.root / "Games\\Quellan\\");
  MakeGameFolder(game);
  scene.key1 = game + "uninst.exe";
  EXPECT_EQ(RunInstallLocationCheck(scene.Inputs()), TInstallCheckResult::HandedOver);
  const std::string copy = game + "launcher.exe";
  EXPECT_EQ(ReadWholeFile(copy), "MZ launcher");
  EXPECT_TRUE(SameFolder(ReadShellShortcutTarget(scene.desktop + "Quellan.lnk"), copy));
  EXPECT_EQ(scene.started, copy);
  EXPECT_EQ(scene.startedWith, "\"" + scene.program + "\"");
  EXPECT_EQ(scene.asked, 0);
  EXPECT_EQ(scene.secondKeyWritten, "");  // the first key named the folder
  // The started copy deletes the first copy, found by its file name in the
  // current folder (the first copy's folder here).
  const std::vector<std::string> arguments = SplitCommandLine(copy + " " + scene.startedWith);
  ASSERT_EQ(arguments.size(), 2u);
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(scene.downloads.c_str()));
  const bool deleted = DeleteHandedOverFile(arguments[1], copy);
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(FileExists(scene.program));
  EXPECT_TRUE(FileExists(copy));
}

TEST(InstallCheck, GameFolderStaysAndUnknownFolderAsksThePlayer) {
  {
    TInstallScene scene;
    MakeGameFolder(scene.downloads);
    EXPECT_EQ(RunInstallLocationCheck(scene.Inputs()), TInstallCheckResult::GoOn);
    EXPECT_TRUE(SameFolder(ReadShellShortcutTarget(scene.desktop + "Quellan.lnk"), scene.program));
    EXPECT_EQ(scene.started, "");
  }
  {
    // The key names a folder that is gone: the player is asked and cancels.
    TInstallScene scene;
    scene.key1 = Backslashed(scene.root / "gone\\uninst.exe");
    EXPECT_EQ(RunInstallLocationCheck(scene.Inputs()), TInstallCheckResult::Cancelled);
    EXPECT_EQ(scene.asked, 1);
    EXPECT_EQ(scene.proposed, DefaultGameFolder(DirectoryExists("D:\\")));
    EXPECT_EQ(scene.started, "");
    EXPECT_FALSE(FileExists(scene.desktop + "Quellan.lnk"));
  }
  {
    // The player names a new folder: it is made, remembered in the second
    // key, and the copy goes there.
    TInstallScene scene;
    scene.answer = Backslashed(scene.root / "New Game\\Quellan\\");
    EXPECT_EQ(RunInstallLocationCheck(scene.Inputs()), TInstallCheckResult::HandedOver);
    EXPECT_EQ(scene.secondKeyWritten, scene.answer);
    EXPECT_TRUE(FileExists(scene.answer + "launcher.exe"));
    EXPECT_EQ(scene.started, scene.answer + "launcher.exe");
  }
}

// A folder typed without its final backslash is the game folder itself: the
// copy goes inside it and the second key remembers it with the backslash.
TEST(InstallCheck, TypedFolderWithoutFinalBackslashGetsIt) {
  TInstallScene scene;
  const std::string typed = Backslashed(scene.root / "Games\\Quellan");
  scene.answer = typed;
  EXPECT_EQ(RunInstallLocationCheck(scene.Inputs()), TInstallCheckResult::HandedOver);
  EXPECT_EQ(scene.started, typed + "\\launcher.exe");
  EXPECT_TRUE(FileExists(typed + "\\launcher.exe"));
  EXPECT_FALSE(FileExists(typed + "launcher.exe"));
  EXPECT_EQ(scene.secondKeyWritten, typed + "\\");
  EXPECT_EQ(GameFolderFromUninstall(scene.secondKeyWritten + "uninst.exe"), typed + "\\");
}

// The copy, its shortcut or its start fails: this launcher stays where it
// is (the caller runs the update here), with a log line of the step.
TEST(InstallCheck, AFailedMoveKeepsThisLauncherRunningWhereItIs) {
  const struct {
    const char* step;
    const char* logPart;
  } cases[] = {{"copy", "failed"}, {"shortcut", "no desktop shortcut"}, {"start", "not started"}};
  for (const auto& c : cases) {
    TInstallScene scene;
    const std::string game = Backslashed(scene.root / "Games\\Quellan\\");
    MakeGameFolder(game);
    scene.key1 = game + "uninst.exe";
    const std::string step = c.step;
    // A folder in the copy's place cannot be overwritten by a file.
    if (step == "copy") ASSERT_TRUE(ForceDirectories(game + "launcher.exe\\x"));
    if (step == "shortcut") scene.desktop = Backslashed(scene.root / "no desktop\\");
    if (step == "start") scene.startWorks = false;
    TLogCapture log;
    EXPECT_EQ(RunInstallLocationCheck(scene.Inputs()), TInstallCheckResult::CopyFailed) << step;
    EXPECT_EQ(log.CountContaining("install copy"), 1) << step;
    EXPECT_EQ(log.CountContaining(c.logPart), 1) << step;
    EXPECT_EQ(scene.started.empty(), step != "start") << step;
    EXPECT_TRUE(FileExists(scene.program)) << step;
  }
}
