#include "http/ResumeRecord.h"

#include <gtest/gtest.h>

#include "http/DownloadChunk.h"
#include "platform/File.h"
#include "platform/Profile.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::pair<int64_t, int64_t>> Pairs(const std::vector<TByteRange>& ranges) {
  std::vector<std::pair<int64_t, int64_t>> pairs;
  for (const TByteRange& r : ranges) pairs.emplace_back(r.start, r.end);
  return pairs;
}

}  // namespace

TEST(ResumeRecord, OnlyWrittenBlocksCountAndTheirGapsStayMissing) {
  TResumeRecord record("unused", 100, "u", "t");
  record.SetMissing({{0, 99}});
  EXPECT_EQ(record.WrittenBytes(), 0);
  // Blocks arrive out of order, overlapping and touching.
  record.MarkWritten(50, 10);   // 50-59
  record.MarkWritten(10, 5);    // 10-14
  record.MarkWritten(55, 10);   // 55-64, overlaps
  record.MarkWritten(15, 5);    // 15-19, touches 10-14
  record.MarkWritten(95, 50);   // runs past the file: cut at 99
  EXPECT_EQ(Pairs(record.Missing()), (std::vector<std::pair<int64_t, int64_t>>{{0, 9}, {20, 49}, {65, 94}}));
  EXPECT_EQ(record.WrittenBytes(), 10 + 15 + 5);
  EXPECT_FALSE(record.Complete());
  record.MarkWritten(0, 100);
  EXPECT_TRUE(record.Complete());
  EXPECT_TRUE(record.Missing().empty());
}

TEST(ResumeRecord, ResumedRecordStartsFromTheMissingRangesOfTheFile) {
  TResumeRecord record("unused", 1000, "u", "t");
  // Unordered, overlapping, partly outside the file.
  record.SetMissing({{800, 1200}, {100, 199}, {150, 249}});
  EXPECT_EQ(Pairs(record.Missing()), (std::vector<std::pair<int64_t, int64_t>>{{100, 249}, {800, 999}}));
  EXPECT_EQ(record.WrittenBytes(), 1000 - 150 - 200);
}

// The checkpoint keeps the format of the resume file: the download's own
// loader and the INI reader read it back.
TEST(ResumeRecord, SavedFileLoadsBackThroughTheResumeFormat) {
  TTempFolder folder;
  const std::string path = folder / "f.bin.!dl";
  TResumeRecord record(path, 5000000, "http://h/f.bin", "Tue, 02 Jan 2024 03:04:05 GMT");
  record.SetMissing({{0, 4999999}});
  record.MarkWritten(0, 1000000);
  record.MarkWritten(2000000, 500000);
  ASSERT_TRUE(record.Save());
  EXPECT_FALSE(FileExists(path + ".tmp"));
  EXPECT_FALSE(record.Changed());
  EXPECT_EQ(ReadIniString(path, "Setup", "FileSize", ""), "5000000");
  EXPECT_EQ(ReadIniString(path, "Setup", "URL", ""), "http://h/f.bin");
  EXPECT_EQ(ReadIniString(path, "Setup", "LastModified", ""), "Tue, 02 Jan 2024 03:04:05 GMT");
  TDownLoadChunk chunks(path);
  ASSERT_EQ(chunks.LoadFromResume(5000000), 2);
  chunks.DetachResumeFile();
  EXPECT_EQ(chunks.PendingBytes(), 5000000 - 1500000);
  // A later save replaces the whole file.
  record.MarkWritten(1000000, 1000000);
  ASSERT_TRUE(record.Save());
  TDownLoadChunk again(path);
  EXPECT_EQ(again.LoadFromResume(5000000), 1);
  again.DetachResumeFile();
  record.Remove();
  EXPECT_FALSE(FileExists(path));
}

TEST(ResumeRecord, TooManyGapsAreMergedIntoTheLastRangeNeverDropped) {
  TResumeRecord record("unused", 20000, "u", "t");
  record.SetMissing({{0, 19999}});
  for (int64_t at = 0; at < 20000; at += 4) record.MarkWritten(at, 2);  // 5000 gaps
  const std::string text = record.Text();
  EXPECT_NE(text.find("ChunkFFE="), std::string::npos);
  EXPECT_EQ(text.find("ChunkFFF="), std::string::npos);
  // The merged last range reaches the last gap.
  EXPECT_NE(text.find("-19999\r\n"), std::string::npos);
}
