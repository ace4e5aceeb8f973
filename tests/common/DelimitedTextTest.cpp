#include <gtest/gtest.h>

#include "common/DelimitedText.h"

using Fields = std::vector<std::string>;

TEST(DelimitedText, SpaceDelimiterTable) {
  const struct {
    std::string text;
    Fields fields;
  } cases[] = {
      {"a b c", {"a", "b", "c"}},
      {"  a   b\r\n c\t", {"a", "b", "c"}},
      {"a b" + std::string(200, ' '), {"a", "b"}},
      {"", {}},
      {"   ", {}},
      {"\"two words\" x", {"two words", "x"}},
      {"\"say \"\"hi\"\"\" y", {"say \"hi\"", "y"}},
      {"\"unclosed rest", {"unclosed rest"}},
      {"\"ab\"cd", {"ab", "cd"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitDelimited(c.text, ' '), c.fields) << "[" << c.text << "]";
}

TEST(DelimitedText, OtherDelimitersKeepEmptyFields) {
  EXPECT_EQ(SplitDelimited("launcher_abc_x7", '_'), (Fields{"launcher", "abc", "x7"}));
  EXPECT_EQ(SplitDelimited("a__b", '_'), (Fields{"a", "", "b"}));
  EXPECT_EQ(SplitDelimited("a_", '_'), (Fields{"a", ""}));
  EXPECT_EQ(SplitDelimited("a b_c", '_'), (Fields{"a", "b", "c"}));
  EXPECT_EQ(SplitDelimited("1.2.3.4|5.6.7.8", '|'), (Fields{"1.2.3.4", "5.6.7.8"}));
  EXPECT_EQ(SplitDelimited("_a", '_'), (Fields{"", "a"}));
}

TEST(DelimitedText, TrailByteIsNeverADelimiter) {
  // 0xB0 0x5F is one character whose second byte is "_"; 0xC0 0x7C ends in "|".
  const std::string underscoreTrail = "name\xB0\x5F" "x_ch";
  EXPECT_EQ(SplitDelimited(underscoreTrail, '_'), (Fields{"name\xB0\x5F" "x", "ch"}));
  const std::string barTrail = "\xC0\x7C|b";
  EXPECT_EQ(SplitDelimited(barTrail, '|'), (Fields{"\xC0\x7C", "b"}));
  // A lead byte at the very end stands alone.
  EXPECT_EQ(SplitDelimited("a_\xB0", '_'), (Fields{"a", "\xB0"}));
}
