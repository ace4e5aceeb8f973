#include <gtest/gtest.h>

#include "common/PathUtils.h"

TEST(PathUtils, PiecesOfAPath) {
  EXPECT_EQ(ExtractFilePath("C:\\Game\\launcher_a_b.exe"), "C:\\Game\\");
  EXPECT_EQ(ExtractFileName("C:\\Game\\launcher_a_b.exe"), "launcher_a_b.exe");
  EXPECT_EQ(ExtractBaseName("C:\\Game\\launcher_a_b.exe"), "launcher_a_b");
  EXPECT_EQ(ExtractBaseName("/opt/game/launcher.v2.exe"), "launcher.v2");
  EXPECT_EQ(ExtractBaseName("launcher"), "launcher");
  EXPECT_EQ(ExtractFilePath("launcher.exe"), "");
}

TEST(PathUtils, TrailByte5CIsNotASeparator) {
  // 0x81 0x5C is one double-byte character ending in the byte of "\".
  const std::string folder = "C:\\\x81\x5C\\";
  EXPECT_EQ(ExtractFilePath(folder + "game.exe"), folder);
  EXPECT_EQ(ExtractBaseName("C:\\x\\\x81\x5C" "_abc.exe"), "\x81\x5C" "_abc");
  EXPECT_EQ(WithSeparator("C:\\\x81\x5C"), "C:\\\x81\x5C\\");
  EXPECT_EQ(WithSeparator("C:\\\x81\x5C\\"), "C:\\\x81\x5C\\");
  EXPECT_EQ(WithSeparator("data/"), "data/");
  // A URL's path: separators turn, the character stays whole.
  EXPECT_EQ(UrlSlashes("http://h/r\\data\\\\\x81\x5C\\\x81\x5C\\\\\\x.bin"),
            "http://h/r/data/\x81\x5C/\x81\x5C//x.bin");
}

TEST(PathUtils, ReservedComponentsAndDeviceNames) {
  struct TCase {
    const char* component;
    bool device;
    bool reserved;
  };
  const TCase cases[] = {
      {"CON", true, true},        {"con", true, true},          {"nul", true, true},
      {"Aux.txt", true, true},    {"prn.tar.gz", true, true},   {"com1.bin", true, true},
      {"COM9", true, true},       {"lpt1.pak", true, true},     {"LpT9.x", true, true},
      {"con .txt", true, true},   {"nul.", true, true},         {"aux ", true, true},
      {"com0.bin", false, false}, {"com10.bin", false, false},  {"lpt", false, false},
      {"console.txt", false, false}, {"auxiliary.dat", false, false}, {"nul_x", false, false},
      {"a.", false, true},        {"a ", false, true},          {"..", false, true},
      {"...", false, true},       {". .", false, true},         {".. ", false, true},
      {".", false, false},        {"..a", false, false},        {" a", false, false},
      {"a.b", false, false},      {"\xB6\xAF.", false, true},   {"\x95\x5C", false, false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(IsDeviceName(c.component), c.device) << c.component;
    EXPECT_EQ(IsReservedComponent(c.component), c.reserved) << c.component;
  }
  // Any component of a path, with either separator; the trail byte 0x5C of
  // a double-byte character splits nothing.
  EXPECT_TRUE(HasReservedComponent("data\\con.dat"));
  EXPECT_TRUE(HasReservedComponent("Com1/x.bin"));
  EXPECT_TRUE(HasReservedComponent("data/maps. /a.bin"));
  EXPECT_FALSE(HasReservedComponent("data\\.\\map\\a.dat"));
  EXPECT_FALSE(HasReservedComponent("\x95\x5C" "con"));
  EXPECT_TRUE(HasReservedComponent("\x95\x5C\\con"));
}

TEST(PathUtils, WindowsPathKeysFoldCaseAndSeparators) {
  const std::pair<const char*, const char*> same[] = {
      {"Data\\A.bin", "data/a.bin"},
      {"data\\\\map//x.DAT", "DATA\\map\\X.dat"},
      {".\\a.dat", "a.dat"},
      {"\x95\x5C" "a", "\x95\x5C" "A"},  // the trail byte is no separator
  };
  for (const auto& [a, b] : same) EXPECT_EQ(WindowsPathKey(a), WindowsPathKey(b)) << a << " " << b;
  const std::pair<const char*, const char*> different[] = {
      {"data\\a.bin", "data\\a.bin2"},
      {"\xB0\xA1", "\xB0\xC1"},  // double-byte characters keep their bytes
      {"\xA3\xC1", "\xA3\xE1"},  // full-width letters are not folded
  };
  for (const auto& [a, b] : different) EXPECT_NE(WindowsPathKey(a), WindowsPathKey(b)) << a << " " << b;
  EXPECT_EQ(WindowsPathKey("Data/Maps\\a.Bin"), "DATA\\MAPS\\A.BIN");
}
