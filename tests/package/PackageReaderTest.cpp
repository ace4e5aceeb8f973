#include "package/PackageReader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/DelimitedText.h"
#include "common/Md5.h"
#include "package/PackageTestData.h"
#include "platform/File.h"
#include "support/TestSupport.h"

namespace {

struct TReadResult {
  TLauncherConfig config;
  TPackageLocations locations;
  std::vector<std::string> log;
};

class PackageReaderTest : public ::testing::Test {
protected:
  TReadResult Read(const std::string& exeBytes, const std::string& baseName = "launcher") {
    const std::string path = folder / (baseName + ".exe");
    WriteWholeFile(path, exeBytes);
    TReadResult result;
    TLogCapture capture;
    ReadPackage(path, baseName, result.config, result.locations);
    result.log = capture.Lines();
    return result;
  }
  static std::string Packed(const TPackageContent& content) {
    const std::string exe = FakeExecutable();
    return exe + BuildPackage(content, static_cast<int64_t>(exe.size()));
  }
  static bool Logged(const TReadResult& r, const std::string& line) {
    return std::find(r.log.begin(), r.log.end(), line) != r.log.end();
  }
  TTempFolder folder;
};

TEST_F(PackageReaderTest, GoodPackageLogsEveryStepInOrder) {
  const TPackageContent content = SampleContent();
  const std::string exe = Packed(content);
  const TReadResult r = Read(exe);
  const int exeSize = static_cast<int>(FakeExecutable().size());
  const int skinSize = static_cast<int>(4 * 3 + content.images[0].size() + content.images[1].size() + content.images[2].size());
  const std::string config = PadConfigText(content.configText);
  const std::string urlMd5 = MD5OfMemory(config);
  const std::vector<std::string> expectedStart = {
      "initconfig create MEM", "initconfig create filestream", "initconfig create seek begin",
      "initconfig create seek end", "initconfig create ReadBuffer end", "flag is 305419896",
      "valid file reading begin seek", "valid file reading begin seek end", "valid file reading read end",
      "urloffset = " + std::to_string(exeSize), "urlsize = 272", "urlmd5 = " + urlMd5,
      "resoffset = " + std::to_string(exeSize + 272), "ressize = " + std::to_string(skinSize)};
  ASSERT_GE(r.log.size(), expectedStart.size());
  EXPECT_EQ(std::vector<std::string>(r.log.begin(), r.log.begin() + expectedStart.size()), expectedStart);

  const std::vector<std::string> expectedConfig = {
      "valid file URL begin set size=272", "valid file URL begin seek", "valid file URL begin copymem",
      "valid file URL begin MD5", "valid file URL end MD5", "valid file URL create urllist",
      "Url succ str=" + config + ", size=272, count=13", "Url _HomeGM=1", "Url _AutoClose=0", "Url _OnlyAwake=1",
      "Url _GMID=12"};
  auto at = std::find(r.log.begin(), r.log.end(), expectedConfig[0]);
  ASSERT_NE(at, r.log.end());
  EXPECT_EQ(std::vector<std::string>(at, at + expectedConfig.size()), expectedConfig);

  const std::vector<std::string> expectedTail = {
      "valid file pic begin set size=168", "valid file pic begin set seek", "valid file pic begin copymem",
      "valid file pic begin md5", "valid file pic end md5"};
  at = std::find(r.log.begin(), r.log.end(), expectedTail[0]);
  ASSERT_NE(at, r.log.end());
  EXPECT_EQ(std::vector<std::string>(at, at + expectedTail.size()), expectedTail);
  EXPECT_EQ(r.log.back().rfind("Pos succ hash=", 0), 0u) << r.log.back();

  EXPECT_EQ(r.config._GMID, "12");
  EXPECT_EQ(r.config._LauName, "\xC6\xF4\xB6\xAF\xC6\xF7");
  EXPECT_EQ(r.config._ForgetUrl, "http://forget.example/");
  EXPECT_EQ(r.locations.resoffset, exeSize + 272);
  EXPECT_EQ(r.locations.ressize, skinSize);
  EXPECT_EQ(r.locations.posoffset, exeSize + 272 + skinSize);
  EXPECT_EQ(r.locations.possize, 168);
  EXPECT_TRUE(r.config.DownloadHost.empty());
}

TEST_F(PackageReaderTest, NoPackageStopsAfterTheFlag) {
  for (const std::string& exe : {FakeExecutable(), std::string("MZ"), std::string()}) {
    const TReadResult r = Read(exe);
    ASSERT_FALSE(r.log.empty());
    EXPECT_EQ(r.log.back().rfind("flag is ", 0), 0u);
    EXPECT_TRUE(r.config._HomePageUrl.empty());
    EXPECT_EQ(r.locations.resoffset, 0);
    EXPECT_EQ(r.locations.posoffset, 0);
  }
  // The magic alone, with no room for a trailer, is no package either.
  std::string magicOnly;
  StoreLE32(magicOnly, PackageMagic);
  const TReadResult r = Read(magicOnly);
  EXPECT_EQ(r.locations.resoffset, 0);
  EXPECT_TRUE(r.config._GMID.empty());
}

TEST_F(PackageReaderTest, FieldCountRules) {
  std::vector<std::string> fields = ThirteenFields();
  fields.pop_back();
  TReadResult r = Read(Packed(SampleContent(fields)));
  EXPECT_EQ(r.config._NewsPageUrl, "http://news.example/");
  EXPECT_TRUE(r.config._ForgetUrl.empty());

  fields.pop_back();
  r = Read(Packed(SampleContent(fields)));
  EXPECT_TRUE(r.config._HomeGM.empty());
  EXPECT_TRUE(r.config._GMID.empty());
  const std::string text = JoinConfigFields(fields);
  EXPECT_TRUE(Logged(r, "Url Error str=" + PadConfigText(text) + ", count=11"));
  EXPECT_FALSE(Logged(r, "Url pos=0 strHome="));

  // Line breaks and runs of blanks separate like one blank; extra fields are ignored.
  TPackageContent content = SampleContent();
  content.configText = "1\r\n0\t\t1   12 name a b c d e f g h extra1 extra2";
  r = Read(Packed(content));
  EXPECT_EQ(r.config._GMID, "12");
  EXPECT_EQ(r.config._ForgetUrl, "h");
}

TEST_F(PackageReaderTest, UppercaseDigestDoesNotMatch) {
  std::string exe = Packed(SampleContent());
  const size_t md5At = exe.size() - TrailerAndMagicSize + 8;
  std::transform(exe.begin() + md5At, exe.begin() + md5At + 32, exe.begin() + md5At,
                 [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
  const TReadResult r = Read(exe);
  EXPECT_TRUE(r.config._GMID.empty());
  const std::string lower = MD5OfMemory(PadConfigText(SampleContent().configText));
  std::string upper = lower;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
  ASSERT_NE(upper, lower);
  EXPECT_TRUE(Logged(r, "Url Error hash=" + upper + ", RealHash=" + lower));
  EXPECT_NE(r.locations.resoffset, 0);  // the other blocks are still used
}

TEST_F(PackageReaderTest, BadSkinDigestLeavesPositionsUsable) {
  std::string exe = Packed(SampleContent());
  exe[FakeExecutable().size() + 272 + 5] ^= 0x01;  // a byte of the first image
  const TReadResult r = Read(exe);
  EXPECT_EQ(r.locations.resoffset, 0);
  EXPECT_EQ(r.locations.ressize, 0);
  EXPECT_NE(r.locations.posoffset, 0);
  EXPECT_EQ(r.config._GMID, "12");
  EXPECT_TRUE(std::any_of(r.log.begin(), r.log.end(), [](const std::string& l) { return l.rfind("Res Error hash=", 0) == 0; }));
}

TEST_F(PackageReaderTest, DescriptorsOutsideTheFileAreRejectedBeforeCopying) {
  const std::string good = Packed(SampleContent());
  const int32_t fileSize = static_cast<int32_t>(good.size());
  const struct {
    int which;
    int32_t offset, size;
    const char* line;
  } cases[] = {
      {1, -8, 16, "Res Error offset=-8, Size=16"},
      {1, 1000, -1, "Res Error offset=1000, Size=-1"},
      {1, 0, 20, "Res Error offset=0, Size=20"},
      {1, fileSize - 10, 11, nullptr},
      {1, 1000, 0x7FFFFFF0, "Res Error offset=1000, Size=2147483632"},
      {0, 0x7FFFFFF0, 0x7FFFFFF0, "Url Error offset=2147483632, Size=2147483632"},
      {2, fileSize, 2, nullptr},
  };
  for (const auto& c : cases) {
    const TReadResult r = Read(WithDescriptor(good, c.which, c.offset, c.size));
    const std::string words[] = {"Url", "Res", "Pos"};
    const std::string expected =
        c.line ? c.line : words[c.which] + " Error offset=" + std::to_string(c.offset) + ", Size=" + std::to_string(c.size);
    EXPECT_TRUE(Logged(r, expected)) << expected;
    // The block is unused, the others still are, and nothing was copied for it.
    if (c.which == 1) EXPECT_EQ(r.locations.resoffset, 0);
    if (c.which != 0) EXPECT_EQ(r.config._GMID, "12");
    if (c.which != 2) EXPECT_NE(r.locations.posoffset, 0);
    const std::string copyLine[] = {"valid file URL begin copymem", "valid file Res begin copymem", "valid file pic begin copymem"};
    EXPECT_FALSE(Logged(r, copyLine[c.which])) << expected;
  }
}

TEST_F(PackageReaderTest, OverlappingBlocksAreCheckedEachOnItsOwn) {
  // The positions descriptor names the configuration block: its digest no
  // longer matches, nothing else changes.
  const std::string good = Packed(SampleContent());
  const TReadResult r = Read(WithDescriptor(good, 2, static_cast<int32_t>(FakeExecutable().size()), 168));
  EXPECT_EQ(r.locations.posoffset, 0);
  EXPECT_EQ(r.config._GMID, "12");
  EXPECT_NE(r.locations.resoffset, 0);
}

TEST_F(PackageReaderTest, ChannelSuffixesAndHomePageRewrite) {
  const struct {
    std::string baseName;
    std::string homeGM;
    std::string home;
    std::string expectedHome;
    std::string expectedPay;
  } cases[] = {
      {"launcher", "1", "http://www.example.com/home", "http://www.example.com/home", "http://pay.example/p"},
      {"launcher_abc", "1", "http://www.example.com/home", "http://abc.example.com/home", "http://pay.example/p/pay_ditch/abc"},
      {"launcher_abc_x7", "1", "http://www.example.com/home", "http://abc.example.com/home",
       "http://pay.example/p/pay_ditch/abc/pay_ditch2/x7"},
      {"launcher_abc_x7", "0", "http://www.example.com/home", "http://www.example.com/home",
       "http://pay.example/p/pay_ditch/abc/pay_ditch2/x7"},
      {"launcher_abc", "1", "http://localhost/home", "http://localhost/home", "http://pay.example/p/pay_ditch/abc"},
      {"launcher__x", "1", "http://www.example.com/", "http://.example.com/", "http://pay.example/p/pay_ditch//pay_ditch2/x"},
      // A channel in code page 936 whose trail byte is "_" stays one part.
      {"launcher_\xB0\x5F" "ch", "1", "http://www.example.com/", "http://\xB0\x5F" "ch.example.com/",
       "http://pay.example/p/pay_ditch/\xB0\x5F" "ch"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> fields = ThirteenFields();
    fields[0] = c.homeGM;
    fields[7] = c.home;
    const TReadResult r = Read(Packed(SampleContent(fields)), c.baseName);
    EXPECT_EQ(r.config._HomePageUrl, c.expectedHome) << c.baseName;
    EXPECT_EQ(r.config._PayPageUrl, c.expectedPay) << c.baseName;
    ASSERT_GE(r.log.size(), 2u);
  }
  std::vector<std::string> fields = ThirteenFields();
  const TReadResult r = Read(Packed(SampleContent(fields)), "launcher_abc");
  EXPECT_TRUE(Logged(r, "Url pos=11 strHome=example.com/home"));
  EXPECT_TRUE(Logged(r, "Url _HomePageUrl=http://abc.example.com/home"));
}

TEST_F(PackageReaderTest, MissingProgramFileIsAnError) {
  TLauncherConfig config;
  TPackageLocations locations;
  EXPECT_THROW(ReadPackage(folder / "absent.exe", "absent", config, locations), EFileError);
}

}  // namespace

// The public key rides as a 14th field. A launcher that reads 13 fields
// splits the same text by the same rule and keeps fields 0..12, so what it
// sees must not change when a key is added, even for a package without
// _ForgetUrl (the writer then puts an empty 13th field before the key).
TEST_F(PackageReaderTest, PublicKeyFieldAndAReaderOfThirteenFields) {
  std::vector<std::string> twelve = ThirteenFields();
  twelve.pop_back();
  for (const std::vector<std::string>& base : {ThirteenFields(), twelve}) {
    std::vector<std::string> fields = base;
    fields.resize(13);
    fields.push_back(SampleKeyText());
    const TReadResult withKey = Read(Packed(SampleContent(fields)));
    const TReadResult without = Read(Packed(SampleContent(base)));
    EXPECT_EQ(withKey.config._PublicKey, SampleKeyText());
    EXPECT_TRUE(without.config._PublicKey.empty());
    EXPECT_EQ(withKey.config._ForgetUrl, without.config._ForgetUrl);
    EXPECT_EQ(withKey.config._NewsPageUrl, without.config._NewsPageUrl);
    EXPECT_TRUE(Logged(withKey, std::string("Url _PublicKey=") + SampleKeyText()));

    // The older reader's view: the first 13 fields of the same split.
    const std::vector<std::string> split = SplitDelimited(JoinConfigFields(fields), ' ');
    ASSERT_EQ(split.size(), 14u);
    EXPECT_EQ(std::vector<std::string>(split.begin(), split.begin() + 12),
              std::vector<std::string>(base.begin(), base.begin() + 12));
    EXPECT_EQ(split[12], base.size() == 13 ? base[12] : std::string());
  }

  // Fields after the key are ignored as before.
  TPackageContent content = SampleContent();
  content.configText = JoinConfigFields(ThirteenFields()) + " " + SampleKeyText() + " later";
  const TReadResult r = Read(Packed(content));
  EXPECT_EQ(r.config._PublicKey, SampleKeyText());
  EXPECT_EQ(r.config._ForgetUrl, "http://forget.example/");
}
