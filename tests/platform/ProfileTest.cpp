#include <gtest/gtest.h>

#include "platform/File.h"
#include "platform/Profile.h"
#include "support/TestSupport.h"

TEST(Profile, IntegerRule) {
  const struct {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"17", true, 17},     {"-5", true, -5},         {"$1F", true, 31},       {"0x1f", true, 31},
               {"0X10", true, 16},   {"$FFFFFFFF", true, -1},  {"2147483647", true, INT32_MAX},
               {"2147483648", false, 0}, {"-2147483648", true, INT32_MIN}, {"", false, 0}, {"12a", false, 0},
               {"true", false, 0},   {"0x", false, 0},         {"$", false, 0},         {" 42", true, 42}};
  for (const auto& c : cases) {
    int value = 0;
    EXPECT_EQ(TryParseInt(c.text, value), c.ok) << c.text;
    if (c.ok) EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(Profile, MissingFileAndKeysReadAsDefaults) {
  TTempFolder folder;
  const std::string ini = folder / "launcher.ini";
  EXPECT_EQ(ReadIniInt(ini, "Main", "lastserver", 0), 0);
  EXPECT_EQ(ReadIniString(ini, "Main", "x", "dflt"), "dflt");
  WriteWholeFile(ini, "[Main]\r\nlastserver=abc\r\nUpdateNow=0x2\r\n");
  EXPECT_EQ(ReadIniInt(ini, "Main", "lastserver", 7), 7);
  EXPECT_EQ(ReadIniInt(ini, "main", "updatenow", 0), 2);
  EXPECT_EQ(ReadIniInt(ini, "Other", "UpdateNow", 5), 5);
}

TEST(Profile, WritesCreateUpdateAndKeepOtherEntries) {
  TTempFolder folder;
  const std::string ini = folder / "launcher.ini";
  WriteIniInt(ini, "Main", "lastserver", 17);
  EXPECT_EQ(ReadIniInt(ini, "Main", "lastserver", 0), 17);
  WriteIniInt(ini, "Main", "UpdateNow", 1);
  WriteIniInt(ini, "Main", "lastserver", 23);
  WriteIniString(ini, "Setup", "Size", "4097");
  EXPECT_EQ(ReadIniInt(ini, "Main", "lastserver", 0), 23);
  EXPECT_EQ(ReadIniInt(ini, "Main", "UpdateNow", 0), 1);
  EXPECT_EQ(ReadIniString(ini, "Setup", "Size", ""), "4097");
  EraseIniSection(ini, "Setup");
  EXPECT_EQ(ReadIniString(ini, "Setup", "Size", "gone"), "gone");
  EXPECT_EQ(ReadIniInt(ini, "Main", "lastserver", 0), 23);
}

TEST(Profile, FailingWriteRaisesUnableToWrite) {
  TTempFolder folder;
  const std::string ini = folder / "no-such-folder" + "/launcher.ini";
  try {
    WriteIniInt(ini, "Main", "lastserver", 1);
    FAIL() << "write into a missing folder succeeded";
  } catch (const EIniFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini);
  }
}
