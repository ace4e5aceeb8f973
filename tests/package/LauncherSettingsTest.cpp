#include "package/LauncherSettings.h"

#include <gtest/gtest.h>

#include "platform/Profile.h"
#include "support/TestSupport.h"

TEST(LauncherSettings, LastServerAndUpdatePlanLiveInSectionMain) {
  TTempFolder folder;
  EXPECT_EQ(ReadLastServer(folder.Path()), 0);
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 0);
  WriteLastServer(folder.Path(), 17);
  WriteUpdateNow(folder.Path(), 2);
  EXPECT_EQ(ReadLastServer(folder.Path()), 17);
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 2);
  EXPECT_EQ(ReadIniString(folder / "launcher.ini", "Main", "lastserver", ""), "17");
  WriteUpdateNow(folder.Path(), 0);
  EXPECT_EQ(ReadLastServer(folder.Path()), 17);
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 0);
}
