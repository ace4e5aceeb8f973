#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/logic/InstallLocation.h"
#include "platform/File.h"
#include "support/TestSupport.h"

namespace {

// Makes `folder` a game folder, or as much of one as asked.
void MakeGame(const std::string& folder, bool library, bool d3dx, bool data) {
  ASSERT_TRUE(ForceDirectories(folder));
  if (library) WriteWholeFile(folder + GameMarkerLibrary, "x");
  if (d3dx) WriteWholeFile(folder + GameMarkerD3dx, "x");
  if (data) {
    ASSERT_TRUE(ForceDirectories(folder + "data"));
  }
}

}  // namespace

TEST(InstallLocation, GameEnvironmentNeedsBothLibrariesAndTheDataFolder) {
  TTempFolder root;
  struct TCase {
    const char* name;
    bool library, d3dx, data, game;
  };
  const TCase cases[] = {
      {"all/", true, true, true, true},       {"nodata/", true, true, false, false},
      {"nokorb/", false, true, true, false},  {"nod3dx/", true, false, true, false},
  };
  for (const TCase& c : cases) {
    MakeGame(root / c.name, c.library, c.d3dx, c.data);
    EXPECT_EQ(HasGameEnvironment(root / c.name), c.game) << c.name;
  }
  // A folder text without its trailing separator gets one.
  EXPECT_TRUE(HasGameEnvironment(root / "all"));
  // "data" as a file is no data folder.
  MakeGame(root / "datafile/", true, true, false);
  WriteWholeFile(root / "datafile/data", "x");
  EXPECT_FALSE(HasGameEnvironment(root / "datafile/"));
  EXPECT_FALSE(HasGameEnvironment(""));
}

TEST(InstallLocation, DecisionTable) {
  TTempFolder root;
  const std::string here = root / "here/";
  const std::string game = root / "game/";
  const std::string other = root / "other/";
  MakeGame(here, false, false, false);
  MakeGame(game, true, true, true);
  MakeGame(other, false, false, false);
  const std::string missing = root / "missing/";

  struct TCase {
    const char* what;
    std::string launcher, key1, key2;
    TInstallAction action;
    std::string gameFolder;
    bool secondKey;
    int readsExpected;
  };
  const TCase cases[] = {
      {"launcher in the game folder", game, other + "uninst.exe", "", TInstallAction::StayHere, "", false, 0},
      {"first key names this folder", here, here + "uninst.exe", "", TInstallAction::StayHere, here, false, 1},
      {"first key names another folder", here, other + "uninst.exe", game + "u.exe", TInstallAction::MoveTo, other, false, 1},
      {"first key's folder is missing", here, missing + "uninst.exe", other + "u.exe", TInstallAction::MoveTo, other, true, 2},
      {"second key names this folder", here, "", here + "u.exe", TInstallAction::StayHere, here, true, 2},
      {"no key names a folder", here, "", missing + "u.exe", TInstallAction::AskPlayer, "", true, 2},
      {"a value without a folder", here, "uninst.exe", "", TInstallAction::AskPlayer, "", true, 2},
  };
  for (const TCase& c : cases) {
    int reads = 0;
    const TInstallDecision decision = DecideInstallLocation(c.launcher, [&](int key) {
      ++reads;
      return key == 1 ? c.key1 : c.key2;
    });
    EXPECT_EQ(decision.action, c.action) << c.what;
    EXPECT_EQ(decision.gameFolder, c.gameFolder) << c.what;
    EXPECT_EQ(decision.secondKeyInUse, c.secondKey) << c.what;
    EXPECT_EQ(reads, c.readsExpected) << c.what;
  }
  EXPECT_TRUE(SameFolder("C:\\Games\\Quellan\\", "c:\\GAMES\\quellan\\"));
  EXPECT_FALSE(SameFolder("C:\\Games\\", "C:\\Games2\\"));
  // Only single-byte letters change case: the trail bytes 0x41 and 0x61
  // belong to two different characters.
  EXPECT_FALSE(SameFolder("C:\\\x81\x41\\", "C:\\\x81\x61\\"));
}

TEST(InstallLocation, FolderTexts) {
  EXPECT_EQ(DefaultGameFolder(true), "D:\\Quellan\xCE\xA2\xB6\xCB\\");
  EXPECT_EQ(DefaultGameFolder(false), "C:\\Quellan\xCE\xA2\xB6\xCB\\");
  EXPECT_EQ(BrowsedFolderText("C:\\"), "C:\\");
  EXPECT_EQ(BrowsedFolderText("C:\\Games"), "C:\\Games\\");
  EXPECT_EQ(DesktopFolderText("C:\\Users\\p\\Desktop", "C:\\Windows"), "C:\\Users\\p\\Desktop\\");
  EXPECT_EQ(DesktopFolderText("", "C:\\Windows"), "C:\\Windows\\");
  EXPECT_EQ(DesktopFolderText("D:\\", "C:\\Windows"), "D:\\");
  EXPECT_EQ(DesktopFolderText("C:\\Desk\\", "C:\\Windows"), "C:\\Desk\\");
  EXPECT_EQ(ShortcutPath("C:\\Desk\\", "Quellan"), "C:\\Desk\\Quellan.lnk");
  // A typed folder gets its separator once; a double-byte character whose
  // trail byte is 0x5C is no separator.
  EXPECT_EQ(FolderWithBackslash("E:\\Games\\Quellan"), "E:\\Games\\Quellan\\");
  EXPECT_EQ(FolderWithBackslash("E:\\Games\\Quellan\\"), "E:\\Games\\Quellan\\");
  EXPECT_EQ(FolderWithBackslash("E:/Games/"), "E:/Games/");
  EXPECT_EQ(FolderWithBackslash("E:\\\xB1\x5C"), "E:\\\xB1\x5C\\");
  EXPECT_EQ(FolderWithBackslash(""), "\\");
}
