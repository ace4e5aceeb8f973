#include "launcher/logic/EntryModes.h"

#include <gtest/gtest.h>

#include "common/CommandLine.h"

TEST(EntryModes, WebAddressIsTheTextAfterWebAndOneMoreCharacterOfTheFirstArgumentWithIt) {
  std::string address;
  EXPECT_TRUE(FindWebAddress({"C:\\Game\\launcher.exe", "/web:http://pay.example/?a=1"}, address));
  EXPECT_EQ(address, "http://pay.example/?a=1");
  // Found anywhere in an argument, from the program path on, first one wins.
  EXPECT_TRUE(FindWebAddress({"C:\\x/web=one", "/web:two"}, address));
  EXPECT_EQ(address, "one");
  EXPECT_TRUE(FindWebAddress({"launcher.exe", "/web"}, address));
  EXPECT_EQ(address, "");
  EXPECT_FALSE(FindWebAddress({"launcher.exe", "/WEB:upper", "web:x"}, address));
  EXPECT_FALSE(FindWebAddress({}, address));
  // As the program reads its own command line: a quoted path with blanks.
  EXPECT_TRUE(FindWebAddress(SplitCommandLine("\"C:\\My Games\\launcher.exe\" /web:http://r/?a=1"), address));
  EXPECT_EQ(address, "http://r/?a=1");
}

TEST(EntryModes, WebBeforeSelfUpdateBeforeTheLauncherWithItsHandOver) {
  const TEntryChoice web = ChooseEntryMode({"C:\\G\\launcher.update", "/web:http://a/"}, "C:\\G\\launcher.update");
  EXPECT_EQ(web.Mode, TEntryMode::WebPage);
  EXPECT_EQ(web.WebAddress, "http://a/");

  const TEntryChoice swap = ChooseEntryMode({"C:\\G\\launcher.UPDATE", "D:\\old.exe"}, "C:\\G\\launcher.UPDATE");
  EXPECT_EQ(swap.Mode, TEntryMode::SelfUpdate);
  EXPECT_EQ(swap.HandOver, "");

  const TEntryChoice handOver = ChooseEntryMode({"C:\\G\\launcher.exe", "D:\\Down\\launcher.exe"}, "C:\\G\\launcher.exe");
  EXPECT_EQ(handOver.Mode, TEntryMode::Launcher);
  EXPECT_EQ(handOver.HandOver, "D:\\Down\\launcher.exe");

  EXPECT_EQ(ChooseEntryMode({"C:\\G\\launcher.exe"}, "C:\\G\\launcher.exe").HandOver, "");
}

TEST(EntryModes, RepairSwitchAnywhereAfterTheProgramAndNeverAHandOver) {
  const std::string program = "C:\\G\\launcher.exe";
  struct TRow {
    std::vector<std::string> Arguments;
    bool Repair;
    std::string HandOver;
  };
  const TRow rows[] = {
      {{program, "/repair"}, true, ""},
      {{program, "/Repair"}, true, ""},
      {{program, "D:\\Down\\launcher.exe", "/REPAIR"}, true, "D:\\Down\\launcher.exe"},
      {{program, "/repairs"}, false, "/repairs"},
      {{"C:\\G\\repair\\launcher.exe"}, false, ""},
      {{program}, false, ""},
  };
  for (const TRow& row : rows) {
    const TEntryChoice choice = ChooseEntryMode(row.Arguments, program);
    EXPECT_EQ(choice.Mode, TEntryMode::Launcher);
    EXPECT_EQ(choice.Repair, row.Repair) << row.Arguments.back();
    EXPECT_EQ(choice.HandOver, row.HandOver) << row.Arguments.back();
  }
  // The web page and the self-update swap come first and never repair.
  EXPECT_FALSE(ChooseEntryMode({program, "/web:http://a/", "/repair"}, program).Repair);
  EXPECT_FALSE(ChooseEntryMode({"C:\\G\\launcher.update", "/repair"}, "C:\\G\\launcher.update").Repair);
}
