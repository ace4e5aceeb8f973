#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/CommandLine.h"

TEST(CommandLine, SplitsAtBlanksOutsideQuotes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine("C:\\g\\launcher.exe /web:http://r/?a=1"), (V{"C:\\g\\launcher.exe", "/web:http://r/?a=1"}));
  EXPECT_EQ(SplitCommandLine("  \"C:\\My Games\\launcher.exe\"\t x  "), (V{"C:\\My Games\\launcher.exe", "x"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d \"\""), (V{"ab cd", ""}));
  EXPECT_EQ(SplitCommandLine("C:\\p\\a.exe \"unclosed quote"), (V{"C:\\p\\a.exe", "unclosed quote"}));
  // A backslash before a quote escapes nothing.
  EXPECT_EQ(SplitCommandLine("\"C:\\dir\\\" next"), (V{"C:\\dir\\", "next"}));
  // Double-byte characters whose trail byte is 0x5C or 0x7C stay whole.
  EXPECT_EQ(SplitCommandLine("\xB5\x5C \xD7\x7C"), (V{"\xB5\x5C", "\xD7\x7C"}));
  EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

TEST(CommandLine, QuotedArgumentReadsBackWhole) {
  for (const std::string path : {"C:\\Users\\John Smith\\Downloads\\launcher.exe", "C:\\Downloads\\launcher.exe", ""}) {
    const std::vector<std::string> arguments = SplitCommandLine("D:\\Quellan\\launcher.exe " + QuoteArgument(path));
    ASSERT_EQ(arguments.size(), 2u) << path;
    EXPECT_EQ(arguments[1], path);
  }
  EXPECT_EQ(QuoteArgument("C:\\a.exe"), "C:\\a.exe");
}
