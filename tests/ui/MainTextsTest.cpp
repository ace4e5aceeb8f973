#include "ui/logic/MainTexts.h"

#include <gtest/gtest.h>

#include "ui/logic/MainFormLayout.h"

TEST(MainTexts, StatusLinePadsToThirtyBytesAndNeverCuts) {
  EXPECT_EQ(ProgressStatusLine("45%", "x"), "45%" + std::string(27, ' ') + " x");
  EXPECT_EQ(ProgressStatusLine("", ""), std::string(31, ' '));
  const std::string longStatus(41, 'a');
  EXPECT_EQ(ProgressStatusLine(longStatus, "\xCB\xD9\xB6\xC8 12 KB/s"), longStatus + " \xCB\xD9\xB6\xC8 12 KB/s");
  // A percent sign in the status is text, not a format directive.
  EXPECT_EQ(ProgressStatusLine("100%s", ""), "100%s" + std::string(25, ' ') + " ");
}

TEST(MainTexts, VersionLabelAndFonts) {
  EXPECT_EQ(VersionLabelText(), "\xB0\xE6\xB1\xBE\xBA\xC5 : 1.0.0");  // "版本号 : 1.0.0"
  // 14-pixel label text is 11 points, 12-pixel text 9 points.
  EXPECT_EQ(LabelFont().Size, 11);
  EXPECT_EQ(BodyFont().Size, 9);
}

TEST(MainTexts, LinkButtonsActByTag) {
  TLauncherConfig config;
  config._HomePageUrl = "http://home/";
  config._BBSPageUrl = "http://bbs/";
  config._PayPageUrl = "http://pay/";
  config._RegistryPageUrl = "http://reg/";
  const TLinkAction home = LinkActionForTag(1, config);
  EXPECT_EQ(home.Kind, TLinkKind::OpenUrl);
  EXPECT_EQ(home.Url, "http://home/");
  EXPECT_EQ(LinkActionForTag(2, config).Url, "http://bbs/");
  EXPECT_EQ(LinkActionForTag(3, config).Url, "http://pay/");
  const TLinkAction registry = LinkActionForTag(4, config);
  EXPECT_EQ(registry.Kind, TLinkKind::WebPageCopy);
  EXPECT_EQ(WebPageArguments(registry.Url), "/web:http://reg/");
  // LGBtn5 and LGBtn6 carry tag 0; any other tag does nothing too.
  for (int tag : {0, 5, 6, -1}) EXPECT_EQ(LinkActionForTag(tag, config).Kind, TLinkKind::None) << tag;
  // An address the package leaves empty opens nothing.
  config._BBSPageUrl.clear();
  EXPECT_EQ(LinkActionForTag(2, config).Kind, TLinkKind::None);
}
