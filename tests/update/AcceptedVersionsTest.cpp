#include "update/manifest/AcceptedVersions.h"

#include <gtest/gtest.h>

#include "platform/File.h"
#include "support/TestSupport.h"

namespace {

class AcceptedVersionsTest : public ::testing::Test {
protected:
  std::string Path() const { return folder / "data/update0.versions"; }
  TTempFolder folder;
};

TEST_F(AcceptedVersionsTest, MarksOnlyRiseAndSurviveAReload) {
  TAcceptedVersions versions(Path());
  EXPECT_EQ(versions.Highest("update.json"), 0u);  // no file yet: the first release sets the mark
  std::string error;
  ASSERT_TRUE(versions.Raise("update.json", 1733580000, error)) << error;
  ASSERT_TRUE(versions.Raise("complete/release.json", 7, error)) << error;
  EXPECT_TRUE(versions.Raise("update.json", 5, error));  // lower: kept as it was
  const TAcceptedVersions reloaded(Path());
  EXPECT_EQ(reloaded.Highest("update.json"), 1733580000u);
  EXPECT_EQ(reloaded.Highest("complete/release.json"), 7u);
  EXPECT_EQ(reloaded.Highest("updateL.json"), 0u);
  ASSERT_TRUE(versions.Raise("update.json", UINT64_MAX, error));
  EXPECT_EQ(reloaded.Highest("update.json"), UINT64_MAX);
  // Written beside and renamed: nothing is left next to it.
  EXPECT_FALSE(FileExists(Path() + ".tmp"));
  EXPECT_EQ(ReadWholeFile(Path()), "complete/release.json=7\r\nupdate.json=18446744073709551615\r\n");
}

TEST_F(AcceptedVersionsTest, DamagedOrForeignTextReadsAsNoMark) {
  const auto marks = ParseAcceptedVersions(
      "update.json=12\r\n=5\nupdateL.json=-3\nx=18446744073709551616\ny= 4\nz=4 \nnoequals\r\nlast=+1\nok=0099");
  EXPECT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks.at("update.json"), 12u);
  EXPECT_EQ(marks.at("ok"), 99u);

  // A file that is not ours (too large) or cannot be read as a file counts as 0.
  ForceDirectories(folder / "data");
  WriteWholeFile(Path(), "update.json=9\r\n" + std::string(MaxAcceptedVersionsFileSize, 'x'));
  EXPECT_EQ(TAcceptedVersions(Path()).Highest("update.json"), 0u);
  DeleteFileAt(Path());
  ForceDirectories(Path());
  TAcceptedVersions folderInTheWay(Path());
  EXPECT_EQ(folderInTheWay.Highest("update.json"), 0u);
  std::string error;
  EXPECT_FALSE(folderInTheWay.Raise("update.json", 3, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(FileExists(Path() + ".tmp"));
}

}  // namespace
