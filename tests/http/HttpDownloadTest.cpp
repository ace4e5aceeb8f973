#include "http/HttpDownload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "common/Md5.h"
#include "http/DownloadPattern.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Profile.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

namespace {

// Runs a download to its end the way its owner does, within a time limit.
struct TDownloadRun {
  bool done = false;
  bool failed = false;
  std::string error;
  int64_t resumed = 0;
  int workers = 0;
};

TDownloadRun RunToEnd(THttpDownload& download, const std::string& url, const std::string& folder,
                      int64_t expected = UnknownDownloadSize, uint32_t limitMs = 120000) {
  const uint32_t start = GetTickCount32();
  const TDownloadOutcome outcome =
      RunDownload(download, url, folder, expected, [&] { return GetTickCount32() - start < limitMs; });
  TDownloadRun run;
  run.done = outcome == TDownloadOutcome::Done;
  run.failed = outcome == TDownloadOutcome::Failed;
  run.error = download.ErrorText();
  run.resumed = download.ResumedBytes();
  run.workers = download.WorkerCount();
  return run;
}

TDownloadRun Fetch(int workers, const std::string& path, const std::string& folder,
                   int64_t expected = UnknownDownloadSize) {
  THttpDownload download(workers);
  return RunToEnd(download, DownloadPeerUrl() + path, folder, expected);
}

}  // namespace

TEST(HttpDownload, FileNameFromUrl) {
  EXPECT_EQ(THttpDownload::FileNameFromUrl("http://h/a/b/file.bin"), "file.bin");
  EXPECT_EQ(THttpDownload::FileNameFromUrl("http://h/a\\b\\file.bin?x=1"), "file.bin");
  EXPECT_EQ(THttpDownload::FileNameFromUrl("http://h/get?a=1&b=2"), "get");
  EXPECT_EQ(THttpDownload::FileNameFromUrl("http://h/x&y?name.zip"), "name.zip");
  EXPECT_EQ(THttpDownload::FileNameFromUrl("http://h/&y?name.zip"), "&y");
  EXPECT_EQ(THttpDownload::FileNameFromUrl("http://h/a/\x81\x5C\x82\x5C.bin"), "\x81\x5C\x82\x5C.bin");
}

// Without a plain name to store the file under, nothing starts.
TEST(HttpDownload, OnlyPlainFileNamesAreStored) {
  const struct {
    const char* url;
    const char* name;
  } refused[] = {{"/dl/", ""}, {"/dl/..", ""}, {"/dl/a:b.bin", ""}, {"/dl/f4097.bin", "../f4097.bin"},
                 {"/dl/f4097.bin", "sub\\f.bin"}, {"/dl/f4097.bin", ".."}};
  for (const auto& c : refused) {
    TTempFolder folder;
    THttpDownload download(5);
    download.SetTargetName(c.name);
    EXPECT_FALSE(download.Start(DownloadPeerUrl() + c.url, folder.Path(), 4097)) << c.url << " " << c.name;
    EXPECT_NE(download.ErrorText().find("no plain file name"), std::string::npos) << download.ErrorText();
  }
}

// The finish step (the whole-file check, a target that another program
// holds) runs without the lock that the owner's Poll and a cancel need.
TEST(HttpDownload, PollAndCancelDoNotWaitForTheFinishStep) {
  TTempFolder folder;
  // A folder where the file should go: its rename is tried again and again.
  ForceDirectories(folder / "f3m.bin");
  WriteWholeFile(folder / "f3m.bin/inside", "x");
  TLogCapture capture;
  auto download = std::make_unique<THttpDownload>(5);
  download->SetExpectedDigest(PatternMd5(3 * 1024 * 1024 + 17));
  ASSERT_TRUE(download->Start(DownloadPeerUrl() + "/dl/f3m.bin", folder.Path(), 3 * 1024 * 1024 + 17));
  const uint32_t start = GetTickCount32();
  uint32_t longestPoll = 0;
  int pollsWhileFinishing = 0;
  while (pollsWhileFinishing < 20 && GetTickCount32() - start < 30000) {
    const uint32_t before = GetTickCount32();
    download->Poll();
    longestPoll = std::max(longestPoll, GetTickCount32() - before);
    if (capture.CountContaining("cannot be replaced yet") > 0) ++pollsWhileFinishing;
    SleepMs(10);
  }
  ASSERT_EQ(pollsWhileFinishing, 20) << "the finish step never waited for the target";
  const uint32_t before = GetTickCount32();
  download.reset();
  EXPECT_LT(GetTickCount32() - before, 2000u);
  EXPECT_LT(longestPoll, 1000u);
}

TEST(HttpDownload, SizesAndWorkerCountsGiveTheServersBytesAndTime) {
  const struct {
    const char* name;
    int64_t size;
  } files[] = {{"f4096.bin", 4096}, {"f4097.bin", 4097}, {"f512k.bin", 524288}, {"f3m.bin", 3 * 1024 * 1024 + 17}};
  for (int workers : {1, 5}) {
    for (const auto& file : files) {
      TTempFolder folder;
      const TDownloadRun run = Fetch(workers, std::string("/dl/") + file.name, folder.Path(), file.size);
      ASSERT_TRUE(run.done) << file.name << " workers " << workers << ": " << run.error;
      const std::string target = folder / file.name;
      EXPECT_EQ(GetFileSize(target), file.size);
      EXPECT_EQ(MD5OfFile(target), PatternMd5(file.size)) << file.name;
      EXPECT_FALSE(FileExists(target + ".!tmp"));
      EXPECT_FALSE(FileExists(target + ".!dl"));
      // Last-Modified of the server: 2024-01-02 03:04:05 UTC.
      uint32_t dos = 0, expectedDos = 0;
      ASSERT_TRUE(GetFileDosDateTime(target, dos));
      WriteWholeFile(folder / "ref", "");
      ASSERT_TRUE(SetFileUnixTime(folder / "ref", 1704164645));
      ASSERT_TRUE(GetFileDosDateTime(folder / "ref", expectedDos));
      EXPECT_EQ(dos, expectedDos) << file.name;
    }
  }
}

TEST(HttpDownload, LargeFileWithFiveWorkers) {
  TTempFolder folder;
  const int64_t size = 200LL * 1024 * 1024;
  const TDownloadRun run = Fetch(5, "/dl/f200m.bin", folder.Path(), size);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(MD5OfFile(folder / "f200m.bin"), PatternMd5(size));
}

// A cap belongs to the run it is given to: a capped download and an uncapped
// one in the same process, at the same time, each keep their own pace.
TEST(HttpDownload, EachRunHasItsOwnRateCap) {
  TTempFolder capped, free;
  TDownloadOptions options;
  options.Worker.Limiter = std::make_shared<TRateLimiter>(64 * 1024);
  uint32_t cappedMs = 0, freeMs = 0;
  TDownloadRun cappedRun;
  const uint32_t start = GetTickCount32();
  std::thread slow([&] {
    THttpDownload download(5, options);
    cappedRun = RunToEnd(download, DownloadPeerUrl() + "/dl/f512k.bin", capped.Path(), 524288);
    cappedMs = GetTickCount32() - start;
  });
  const TDownloadRun freeRun = Fetch(5, "/dl/f3m.bin", free.Path(), 3 * 1024 * 1024 + 17);
  freeMs = GetTickCount32() - start;
  slow.join();
  ASSERT_TRUE(cappedRun.done) << cappedRun.error;
  ASSERT_TRUE(freeRun.done) << freeRun.error;
  EXPECT_EQ(MD5OfFile(capped / "f512k.bin"), PatternMd5(524288));
  // 512 KiB at 64 KiB/s: 8 s, less the limiter's short burst.
  EXPECT_GE(cappedMs, 7000u);
  EXPECT_LT(freeMs, cappedMs) << "the uncapped run waited for the other's cap";
}

TEST(HttpDownload, ServerWithoutRangesGetsOneConnection) {
  TTempFolder folder;
  TLogCapture capture;
  const TDownloadRun run = Fetch(5, "/norange/f3m.bin", folder.Path());
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(run.workers, 1);
  EXPECT_TRUE(capture.Contains(Utf8ToCp936("不支持续传，采用单线程下载")));
  EXPECT_EQ(MD5OfFile(folder / "f3m.bin"), PatternMd5(3 * 1024 * 1024 + 17));
  EXPECT_FALSE(FileExists(folder / "f3m.bin.!dl"));
}

TEST(HttpDownload, RedirectKeepsTheRangeAndSendsCookieAndReferer) {
  // The target folder answers 403 to requests without the cookie and a Referer.
  TTempFolder folder;
  const TDownloadRun run = Fetch(5, "/moved/f3m.bin", folder.Path(), 3 * 1024 * 1024 + 17);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(MD5OfFile(folder / "f3m.bin"), PatternMd5(3 * 1024 * 1024 + 17));
}

TEST(HttpDownload, IdleWorkersTakeTheSecondHalfOfTheBusiestRange) {
  // 16 ranges on 5 capped connections: the last one would run alone.
  TTempFolder folder;
  TLogCapture capture;
  const int64_t size = 200LL * 1024 * 1024;
  THttpDownload download(5);
  const TDownloadRun run = RunToEnd(download, DownloadPeerUrl() + "/slow/f200m.bin", folder.Path(), size);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(MD5OfFile(folder / "f200m.bin"), PatternMd5(size));
  EXPECT_GT(capture.CountContaining("# -> "), 0) << "no range was cut";
  // A cut range is read once: by the worker that cut it or by the one that took it.
  EXPECT_EQ(download.BytesReceived(), size);
  EXPECT_EQ(download.BytesWritten(), size);
}

// A redirect loop and a redirect to another scheme fail the download at once.
TEST(HttpDownload, RedirectLoopFailsAtOnceWithItsOwnText) {
  const struct {
    std::string url, name, error;
  } cases[] = {
      {DownloadPeerUrl() + "/loop/f.bin", "f.bin", "Too many redirects: more than 4, last Location: "},
      {FaultServerUrl() + "/redirect-ftp", "redirect-ftp",
       "Redirect to a URL that is not http: \"ftp://127.0.0.1/elsewhere\""},
  };
  for (const auto& c : cases) {
    TTempFolder folder;
    const uint32_t start = GetTickCount32();
    THttpDownload download(5);
    const TDownloadRun run = RunToEnd(download, c.url, folder.Path());
    const uint32_t elapsed = GetTickCount32() - start;
    EXPECT_TRUE(run.failed) << c.url;
    EXPECT_NE(run.error.find(c.error), std::string::npos) << run.error;
    // Well before the no-progress time-out that a silent give-up waited for.
    EXPECT_LT(elapsed, 5000u) << c.url;
    EXPECT_FALSE(FileExists(folder / c.name)) << c.url;
  }
}

TEST(HttpDownload, WrongTotalAndMissingFileAreErrors) {
  TTempFolder folder;
  TDownloadRun run = Fetch(5, "/dl/f4097.bin", folder.Path(), 4096);
  EXPECT_TRUE(run.failed);
  EXPECT_NE(run.error.find("File (/dl/f4097.bin) Length Error: 4097 <> 4096"), std::string::npos) << run.error;
  EXPECT_NE(run.error.find("127.0.0.1:"), std::string::npos) << run.error;
  run = Fetch(5, "/dl/absent.bin", folder.Path());
  EXPECT_TRUE(run.failed);
  EXPECT_NE(run.error.find(" 404 Not Found /dl/absent.bin"), std::string::npos) << run.error;
}

TEST(HttpDownload, CancelledDownloadResumesWithTheSameSizeOnly) {
  TTempFolder folder;
  const int64_t size = 200LL * 1024 * 1024;
  const std::string url = DownloadPeerUrl() + "/dl/f200m.bin";
  {
    THttpDownload download(5);
    std::atomic<bool> enough{false};
    TEvent reached;
    download.OnReceived = [&](THttpDownload&, uint32_t, int64_t, int64_t received) {
      if (received > 30 * 1024 * 1024 && !enough.exchange(true)) reached.SetEvent();
    };
    ASSERT_TRUE(download.Start(url, folder.Path(), size));
    ASSERT_TRUE(reached.WaitFor(60000));
  }  // destroyed in the middle: the resume information stays
  const std::string target = folder / "f200m.bin";
  ASSERT_TRUE(FileExists(target + ".!tmp"));
  ASSERT_TRUE(FileExists(target + ".!dl"));
  EXPECT_EQ(ReadIniString(target + ".!dl", "Setup", "FileSize", ""), std::to_string(size));
  EXPECT_NE(ReadIniString(target + ".!dl", "Chunks", "Chunk000", ""), "");

  THttpDownload again(5);
  const TDownloadRun run = RunToEnd(again, url, folder.Path(), size);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_GT(run.resumed, 20 * 1024 * 1024);  // fewer bytes fetched the second time
  EXPECT_EQ(MD5OfFile(target), PatternMd5(size));
  EXPECT_FALSE(FileExists(target + ".!dl"));

}

TEST(HttpDownload, ResumeFileOfAnotherSizeStartsFreshOverTheOldData) {
  TTempFolder folder;
  const std::string target = folder / "f4097.bin";
  // A longer temporary file from another version of the file: none of its
  // bytes may survive into the new target.
  WriteWholeFile(target + ".!tmp", std::string(9000, 'x'));
  WriteWholeFile(target + ".!dl", "[Setup]\r\nFileSize=9000\r\n[Chunks]\r\nChunk000=0-99\r\n");
  const TDownloadRun run = Fetch(5, "/dl/f4097.bin", folder.Path(), 4097);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(run.resumed, 0);
  EXPECT_EQ(GetFileSize(target), 4097);
  EXPECT_EQ(MD5OfFile(target), PatternMd5(4097));
}
