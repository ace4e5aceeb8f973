#include "platform/CodePage.h"

#include <gtest/gtest.h>

TEST(CodePage, ChineseTextRoundTrips) {
  const std::string gbk = "\xC6\xF4\xB6\xAF\xC6\xF7";                 // 启动器
  const std::string utf8 = "\xE5\x90\xAF\xE5\x8A\xA8\xE5\x99\xA8";   // the same in UTF-8
  EXPECT_EQ(Cp936ToUtf8(gbk), utf8);
  EXPECT_EQ(Utf8ToCp936(utf8), gbk);
  EXPECT_EQ(Cp936ToUtf16(gbk), u"\u542F\u52A8\u5668");
  EXPECT_EQ(Utf16ToCp936(u"\u542F\u52A8\u5668"), gbk);
  EXPECT_EQ(Cp936ToUtf16("abc 123"), u"abc 123");
  EXPECT_EQ(Cp936ToUtf16(""), u"");
}

TEST(CodePage, TrailBytesThatLookLikeAsciiStayInTheirCharacter) {
  EXPECT_EQ(Cp936ToUtf16("\x81\x5C"), u"\u4E57");  // 乗, second byte is "\"
  EXPECT_EQ(Cp936ToUtf16("\xB0\x5F"), u"\u766C");  // 癬, second byte is "_"
  EXPECT_EQ(Utf16ToCp936(u"\u4E57\\"), "\x81\x5C\\");
}

TEST(CodePage, DamagedTextStillConverts) {
  // A lead byte with nothing after it, and a character code page 936 lacks.
  const std::u16string cut = Cp936ToUtf16(std::string("ab\xC6"));
  ASSERT_GE(cut.size(), 3u);
  EXPECT_EQ(cut.substr(0, 2), u"ab");
  EXPECT_EQ(Utf16ToCp936(u"x\U0001F600y").front(), 'x');
  EXPECT_EQ(Utf16ToCp936(u"x\U0001F600y").back(), 'y');
}
