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
}
