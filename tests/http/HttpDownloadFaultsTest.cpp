// The download engine against a server that misbehaves on purpose.
#include <gtest/gtest.h>

#include <atomic>

#include "http/DownloadPattern.h"
#include "http/HttpDownload.h"
#include "platform/File.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

namespace {

struct TOutcome {
  bool done = false;
  bool failed = false;
  std::string error;
  uint32_t elapsedMs = 0;
};

// A short watchdog, so stalls are noticed within a second.
TOutcome FetchFault(int workers, const std::string& pathAndQuery, const std::string& folder, int64_t expected = 0) {
  TDownloadOptions options;
  options.WatchdogMs = 800;
  THttpDownload download(workers, options);
  TOutcome outcome;
  const uint32_t start = GetTickCount32();
  const TDownloadOutcome result = RunDownload(download, FaultServerUrl() + pathAndQuery, folder, expected,
                                              [&] { return GetTickCount32() - start < 60000; });
  outcome.done = result == TDownloadOutcome::Done;
  outcome.failed = result == TDownloadOutcome::Failed;
  outcome.error = download.ErrorText();
  outcome.elapsedMs = GetTickCount32() - start;
  return outcome;
}

std::string Token() { return std::to_string(GetTickCount32()) + "-" + std::to_string(std::rand()); }

}  // namespace

TEST(HttpDownloadFaults, DroppedConnectionReturnsTheRestOfTheRange) {
  TTempFolder folder;
  TLogCapture capture;
  const TOutcome run = FetchFault(5, "/dl-drop?size=3000000&token=" + Token(), folder.Path(), 3000000);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(MD5OfFile(folder / "dl-drop"), PatternMd5(3000000));
  bool restarted = false;
  for (const std::string& line : capture.Lines()) restarted = restarted || line.find("# 线程重启:") != std::string::npos;
  EXPECT_TRUE(restarted);
}

TEST(HttpDownloadFaults, StalledWorkerIsReplaced) {
  TTempFolder folder;
  TLogCapture capture;
  const TOutcome run = FetchFault(5, "/dl-stall?size=3000000&token=" + Token(), folder.Path(), 3000000);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(MD5OfFile(folder / "dl-stall"), PatternMd5(3000000));
  bool timedOut = false;
  for (const std::string& line : capture.Lines()) timedOut = timedOut || line.find("# 线程超时") != std::string::npos;
  EXPECT_TRUE(timedOut);
}

TEST(HttpDownloadFaults, StalledProbeFailsWithTimeoutError) {
  TTempFolder folder;
  const TOutcome run = FetchFault(5, "/dl-stall-probe", folder.Path());
  EXPECT_TRUE(run.failed);
  EXPECT_EQ(run.error, "\xB3\xAC\xCA\xB1\xB4\xED\xCE\xF3");  // "超时错误" in code page 936
  EXPECT_LT(run.elapsedMs, 10000u);
}

TEST(HttpDownloadFaults, RefusedProbeRangeFallsBackToOneWholeFile) {
  TTempFolder folder;
  const TOutcome run = FetchFault(5, "/dl-416?size=100000", folder.Path());
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(MD5OfFile(folder / "dl-416"), PatternMd5(100000));
}

TEST(HttpDownloadFaults, BytesBeyondARangeAreNotWritten) {
  TTempFolder folder;
  const TOutcome run = FetchFault(5, "/dl-overrun?size=3000000", folder.Path(), 3000000);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(GetFileSize(folder / "dl-overrun"), 3000000);
  EXPECT_EQ(MD5OfFile(folder / "dl-overrun"), PatternMd5(3000000));
}
