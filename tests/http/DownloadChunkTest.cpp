#include "http/DownloadChunk.h"

#include <gtest/gtest.h>

#include "platform/File.h"
#include "platform/Profile.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::pair<int64_t, int64_t>> Pairs(const TDownLoadChunk& chunks) {
  std::vector<std::pair<int64_t, int64_t>> pairs;
  for (const TByteRange& r : chunks.Ranges()) pairs.emplace_back(r.start, r.end);
  return pairs;
}

}  // namespace

TEST(DownloadChunk, SplittingFollowsTheFloorAndHandsOutLowestFirst) {
  TTempFolder folder;
  {
    TDownLoadChunk chunks(folder / "f.!dl");
    chunks.Add(0, 524287);  // 512 KiB: one halving only
    chunks.Split(5);
    EXPECT_EQ(Pairs(chunks), (std::vector<std::pair<int64_t, int64_t>>{{262145, 524287}, {0, 262144}}));
    TByteRange first;
    ASSERT_TRUE(chunks.Take(first));
    EXPECT_EQ(first.start, 0);
    EXPECT_EQ(chunks.PendingBytes(), 262143);
  }
  {
    TDownLoadChunk chunks(folder / "g.!dl");
    chunks.Add(0, 200LL * 1024 * 1024 - 1);  // five workers: 1, 2, 4, 8, 16 ranges
    chunks.Split(5);
    const auto ranges = chunks.Ranges();
    ASSERT_EQ(ranges.size(), 16u);
    int64_t covered = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
      covered += ranges[i].Length();
      if (i > 0) EXPECT_GT(ranges[i - 1].start, ranges[i].start);
    }
    EXPECT_EQ(covered, 200LL * 1024 * 1024);
    EXPECT_EQ(chunks.PendingBytes(), covered);
    EXPECT_EQ(ranges.back().start, 0);
  }
  {
    TDownLoadChunk chunks(folder / "h.!dl");
    chunks.Add(0, 4095);
    chunks.Split(1);
    EXPECT_EQ(chunks.Count(), 1u);
    chunks.Split(5);  // below the floor: stays whole
    EXPECT_EQ(chunks.Count(), 1u);
  }
}

TEST(DownloadChunk, PendingRangesSurviveInTheResumeFile) {
  TTempFolder folder;
  const std::string resume = folder / "file.bin.!dl";
  {
    TDownLoadChunk chunks(resume);
    chunks.Add(100, 199);
    chunks.Add(300, 399);
  }
  EXPECT_EQ(ReadIniString(resume, "Chunks", "Chunk000", ""), "100-199");
  EXPECT_EQ(ReadIniString(resume, "Chunks", "Chunk001", ""), "300-399");
  {
    TDownLoadChunk chunks(resume);
    EXPECT_EQ(chunks.LoadFromResume(1000), 2);
    EXPECT_EQ(chunks.PendingBytes(), 200);
    TByteRange r;
    ASSERT_TRUE(chunks.Take(r));
    ASSERT_TRUE(chunks.Take(r));
  }
  // Nothing pending: the resume file goes.
  EXPECT_FALSE(FileExists(resume));
}

TEST(DownloadChunk, EntriesOutsideTheFileAreCutOrDropped) {
  TTempFolder folder;
  const std::string resume = folder / "f.!dl";
  WriteWholeFile(resume,
                 "[Setup]\r\nFileSize=1000\r\n[Chunks]\r\nChunk000=0-99\r\nChunk001=500-2000\r\n"
                 "Chunk002=700 799\r\nChunk003=1000-1200\r\nChunk004=999-999\r\nChunk006=1-2\r\n");
  TDownLoadChunk chunks(resume);
  // 0-99, 500-999 (cut), 700-799, 999-999; 1000-1200 lies outside; Chunk006 follows a gap.
  EXPECT_EQ(chunks.LoadFromResume(1000), 4);
  EXPECT_EQ(chunks.PendingBytes(), 100 + 500 + 100 + 1);
  TDownLoadChunk none(folder / "absent.!dl");
  EXPECT_EQ(none.LoadFromResume(1000), 0);
}

TEST(DownloadChunk, DamagedResumeFileKeepsNothing) {
  TTempFolder folder;
  for (const char* bad : {"-5", "abc", "90-10", "12-x", "-"}) {
    const std::string resume = folder / "d.!dl";
    WriteWholeFile(resume, std::string("[Chunks]\r\nChunk000=0-99\r\nChunk001=") + bad + "\r\n");
    TDownLoadChunk chunks(resume);
    EXPECT_EQ(chunks.LoadFromResume(1000), -1) << bad;
    EXPECT_EQ(chunks.Count(), 0u) << bad;
  }
}
