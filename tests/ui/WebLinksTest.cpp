#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/logic/WebLinks.h"

TEST(WebLinks, MacTextSkipsNullAdapters) {
  const uint8_t address[] = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0xFF};
  EXPECT_EQ(FormatAdapterAddress(address, 6), "0A-1B-2C-3D-4E-5F");
  EXPECT_EQ(FormatAdapterAddress(address, 0), "");
  const std::string zero = "00-00-00-00-00-00";
  struct TCase {
    const char* what;
    std::vector<std::string> adapters;
    std::string mac;
    int asked;
  };
  const TCase cases[] = {
      {"first is real", {"0A-1B-2C-3D-4E-5F", "11-11-11-11-11-11"}, "0A-1B-2C-3D-4E-5F", 1},
      {"first is null", {zero, "0A-1B-2C-3D-4E-5F"}, "0A-1B-2C-3D-4E-5F", 2},
      {"no adapters", {}, "", 1},
      {"all four null", {zero, zero, zero, zero + "-00"}, zero + "-00", 4},
  };
  for (const TCase& c : cases) {
    int asked = 0;
    const std::string mac = ChooseMacText([&](int n) {
      ++asked;
      return n < static_cast<int>(c.adapters.size()) ? c.adapters[static_cast<size_t>(n)] : std::string();
    });
    EXPECT_EQ(mac, c.mac) << c.what;
    EXPECT_EQ(asked, c.asked) << c.what;
  }
}

TEST(WebLinks, DecoratedUrlCarriesTheMachineChecksum) {
  // MD5 of "73910839" and of "7391" + the address + "0839".
  EXPECT_EQ(MachineCrc(""), "2892ada77399c7cc95fe91cedc2adc14");
  const std::string crc = MachineCrc("0A-1B-2C-3D-4E-5F");
  EXPECT_EQ(crc, "aa5df26010e62da9c258028c98f9a54d");
  EXPECT_EQ(DecorateUrl("http://news/a?id=3", crc), "http://news/a?id=3&crc=" + crc);
  EXPECT_EQ(DecorateUrl("http://news/a", crc), "http://news/a?crc=" + crc);
  EXPECT_EQ(DecorateUrl("http://news/a?crc=1", crc), "http://news/a?crc=1&crc=" + crc);
}

TEST(WebLinks, OnlyHttpAndHttpsLinksAreWebLinks) {
  const struct {
    const char* url;
    bool web;
  } cases[] = {
      {"http://news/a", true},        {"HTTPS://news/a?x=1", true}, {"hTtP:news", true},
      {"file:///C:/Windows/x.exe", false}, {"javascript:alert(1)", false}, {"mailto:a@b", false},
      {"ms-settings:", false},        {" http://news/a", false},  {"httpx://news/a", false},
      {"news/a", false},              {"", false},                {"\\\\host\\share\\x.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsWebLink(c.url), c.web) << c.url;
}

TEST(WebLinks, CloseHookIgnoresCase) {
  EXPECT_TRUE(IsCloseRequest("http://reg/done#close"));
  EXPECT_TRUE(IsCloseRequest("http://reg/done#CLOSE"));
  EXPECT_TRUE(IsCloseRequest("HTTP://REG/#Close?x=1"));
  EXPECT_FALSE(IsCloseRequest("http://reg/close"));
  EXPECT_FALSE(IsCloseRequest("http://reg/#clos"));
  EXPECT_EQ(WebPageArguments("http://reg/?a=1"), "/web:http://reg/?a=1");
}
