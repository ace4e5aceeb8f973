#include <gtest/gtest.h>

#include "package/PackageReader.h"
#include "package/PackageTestData.h"
#include "support/TestSupport.h"

namespace {

class RecordReadersTest : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string exe = FakeExecutable();
    bytes = exe + BuildPackage(content, static_cast<int64_t>(exe.size()));
    path = folder / "launcher.exe";
    WriteWholeFile(path, bytes);
    TLauncherConfig config;
    ReadPackage(path, "launcher", config, locations);
    ASSERT_NE(locations.resoffset, 0);
    ASSERT_NE(locations.posoffset, 0);
  }
  TTempFolder folder;
  TPackageContent content = SampleContent();
  std::string bytes, path;
  TPackageLocations locations;
};

TEST_F(RecordReadersTest, ImagesComeBackInOrderWithTheirLogLines) {
  int32_t cursor = locations.resoffset;
  TLogCapture capture;
  for (const std::string& image : content.images) {
    const auto read = ReadSkinImageFrom(path, locations, "background", cursor);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(std::string(read->begin(), read->end()), image);
  }
  EXPECT_EQ(cursor, locations.resoffset + locations.ressize);
  const std::vector<std::string> lines = capture.Lines();
  ASSERT_GE(lines.size(), 11u);
  const std::vector<std::string> first(lines.begin(), lines.begin() + 11);
  EXPECT_EQ(first, (std::vector<std::string>{
                       "load img background beginning", "load img seek=" + std::to_string(locations.resoffset),
                       "load img size=" + std::to_string(content.images[0].size()),
                       "load img strMem.SetSize(nImgSize) size=" + std::to_string(content.images[0].size()) +
                           ", seek=" + std::to_string(locations.resoffset + 4),
                       "1load img create istream begin", "2load img create istream begin ",
                       "3load img create istream begin", "4load img create istream begin",
                       "5load img create istream begin", "load img background free MEM and filestream begin",
                       "load img background free MEM and filestream end"}));
  // Past the last record the next length field is the positions block.
  const auto beyond = ReadSkinImageFrom(path, locations, "extra", cursor);
  EXPECT_FALSE(beyond.has_value());
}

TEST_F(RecordReadersTest, RecordsThatLeaveTheBlockOrAreEmptyGiveNoImage) {
  // A record whose length runs past the block: no image, cursor past it.
  TPackageLocations shrunk = locations;
  shrunk.ressize = 4 + static_cast<int32_t>(content.images[0].size()) - 1;
  int32_t cursor = shrunk.resoffset;
  TLogCapture capture;
  EXPECT_FALSE(ReadSkinImageFrom(path, shrunk, "background", cursor).has_value());
  EXPECT_EQ(cursor, shrunk.resoffset + 4 + static_cast<int32_t>(content.images[0].size()));
  const int32_t end = shrunk.resoffset + shrunk.ressize;
  EXPECT_TRUE(capture.Contains("load img file error seek=" + std::to_string(cursor) + ", size=" +
                               std::to_string(content.images[0].size()) + ", resBegin=" +
                               std::to_string(shrunk.resoffset) + ", resEnd=" + std::to_string(end)));
  EXPECT_TRUE(capture.Contains("load img background free MEM and filestream end"));

  // A zero length field: no image, the cursor steps over the field only.
  std::string zeroed = bytes;
  for (int i = 0; i < 4; ++i) zeroed[static_cast<size_t>(locations.resoffset) + i] = '\0';
  WriteWholeFile(path, zeroed);
  cursor = locations.resoffset;
  EXPECT_FALSE(ReadSkinImageFrom(path, locations, "background", cursor).has_value());
  EXPECT_EQ(cursor, locations.resoffset + 4);

  // A cursor beyond the end of the file reads no length.
  cursor = static_cast<int32_t>(bytes.size()) + 100;
  EXPECT_FALSE(ReadSkinImageFrom(path, locations, "late", cursor).has_value());
}

TEST_F(RecordReadersTest, DecoderRunsWhileTheRecordIsRead) {
  int32_t cursor = locations.resoffset;
  std::string seen;
  auto image = ReadSkinImageFrom(path, locations, "background", cursor, [&](std::vector<uint8_t>& b) {
    seen.assign(b.begin(), b.end());
    return true;
  });
  EXPECT_TRUE(image.has_value());
  EXPECT_EQ(seen, content.images[0]);
  auto refused = ReadSkinImageFrom(path, locations, "second", cursor, [](std::vector<uint8_t>&) { return false; });
  EXPECT_FALSE(refused.has_value());
}

TEST_F(RecordReadersTest, PositionEntriesAreSignedAndRangeChecked) {
  int32_t cursor = locations.posoffset + 8;
  TLogCapture capture;
  for (int i = 4; i < PositionEntryCount; ++i) {
    const auto value = ReadPosEntryFrom(path, locations, "LGStart X", cursor);
    ASSERT_TRUE(value.has_value()) << i;
    EXPECT_EQ(*value, content.positions[static_cast<size_t>(i)]);
  }
  EXPECT_TRUE(capture.Contains("load img pos LGStart X end, result=-60"));
  const int32_t end = locations.posoffset + locations.possize;
  EXPECT_EQ(cursor, end);
  EXPECT_FALSE(ReadPosEntryFrom(path, locations, "LGBtn4 H", cursor).has_value());
  EXPECT_TRUE(capture.Contains("load img pos LGBtn4 H error, offset=" + std::to_string(end) + ", posend=" + std::to_string(end)));
  EXPECT_EQ(cursor, end + 2);

  // Without a verified positions block every entry is out of range.
  TPackageLocations none;
  cursor = none.posoffset + 8;
  EXPECT_FALSE(ReadPosEntryFrom(path, none, "picSlogan X", cursor).has_value());
  cursor = 0;
  EXPECT_FALSE(ReadPosEntryFrom(path, none, "picSlogan X", cursor).has_value());
  EXPECT_TRUE(capture.Contains("load img pos picSlogan X error, offset=0, posend=0"));
}

}  // namespace
