// The download engine against a server that misbehaves on purpose.
#include <gtest/gtest.h>

#include <atomic>

#include "http/DownloadPattern.h"
#include "http/HttpDownload.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Profile.h"
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
TDownloadOptions ShortBounds() {
  TDownloadOptions options;
  options.WatchdogMs = 800;
  options.NoProgressMs = 4000;
  return options;
}

TOutcome FetchFault(int workers, const std::string& pathAndQuery, const std::string& folder,
                    int64_t expected = UnknownDownloadSize, const std::string& md5 = "",
                    const std::string& name = "", const TDownloadOptions& options = ShortBounds()) {
  THttpDownload download(workers, options);
  download.SetExpectedDigest(md5);
  download.SetTargetName(name);
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
  for (const std::string& line : capture.Lines()) restarted = restarted || line.find(Utf8ToCp936("# 线程重启:")) != std::string::npos;
  EXPECT_TRUE(restarted);
}

TEST(HttpDownloadFaults, StalledWorkerIsReplaced) {
  TTempFolder folder;
  TLogCapture capture;
  const TOutcome run = FetchFault(5, "/dl-stall?size=3000000&token=" + Token(), folder.Path(), 3000000);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(MD5OfFile(folder / "dl-stall"), PatternMd5(3000000));
  bool timedOut = false;
  for (const std::string& line : capture.Lines()) timedOut = timedOut || line.find(Utf8ToCp936("# 线程超时")) != std::string::npos;
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

// The requests as a strict server reads them: every range in lower case with
// identity bodies, no "Range" line at all on a plain request, and after a 416
// to the probe exactly one plain request.
TEST(HttpDownloadFaults, RequestsEveryServerReads) {
  const struct {
    const char* route;
    int64_t size;
    bool done;
    int minRanged, maxRanged, plain;
  } cases[] = {
      {"/dl-strict?size=3000000", 3000000, true, 2, 1000, 0},
      {"/dl-416?size=100000", 100000, true, 1, 1, 1},
      {"/dl-416?always=1&size=100000", 100000, false, 1, 1, 1},
  };
  for (const auto& c : cases) {
    TTempFolder folder;
    const std::string token = Token();
    const TOutcome run = FetchFault(5, std::string(c.route) + "&token=" + token, folder.Path(), c.size);
    EXPECT_EQ(run.done, c.done) << c.route << ": " << run.error;
    const std::string route = c.route, name = route.substr(1, route.find('?') - 1);
    if (c.done) {
      EXPECT_EQ(MD5OfFile(folder / name), PatternMd5(c.size)) << c.route;
    } else {
      EXPECT_NE(run.error.find("416"), std::string::npos) << c.route << ": " << run.error;
    }
    THttpGetDocument seen;
    ASSERT_TRUE(seen.Get(FaultServerUrl() + "/dl-requests?token=" + token, "")) << c.route;
    int ranged = 0, plain = 0;
    const std::string& heads = seen.Body();
    for (size_t at = 0, end; (end = heads.find("\r\n\r\n", at)) != std::string::npos; at = end + 4) {
      const std::string head = heads.substr(at, end - at) + "\r\n";
      const size_t range = head.find("\r\nRange: bytes=");
      if (range != std::string::npos) {
        ++ranged;
        EXPECT_NE(head.find("\r\nAccept-Encoding: identity\r\n"), std::string::npos) << c.route << "\n" << head;
      } else {
        ++plain;
        EXPECT_EQ(head.find("Range"), std::string::npos) << c.route << "\n" << head;
      }
    }
    EXPECT_GE(ranged, c.minRanged) << c.route;
    EXPECT_LE(ranged, c.maxRanged) << c.route;
    EXPECT_EQ(plain, c.plain) << c.route;
  }
}

TEST(HttpDownloadFaults, BytesBeyondARangeAreNotWritten) {
  TTempFolder folder;
  const TOutcome run = FetchFault(5, "/dl-overrun?size=3000000", folder.Path(), 3000000);
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(GetFileSize(folder / "dl-overrun"), 3000000);
  EXPECT_EQ(MD5OfFile(folder / "dl-overrun"), PatternMd5(3000000));
}

// --- answers that must never reach the target ------------------------------
// The fault routes of a whole update run serve a.bin of 1,200,000 bytes.

namespace {

constexpr int64_t RunSize = 1200000;

// The target exists before the download; a failed download must leave it.
TOutcome FetchOverOldFile(const std::string& fault, const TTempFolder& folder, const std::string& md5 = "") {
  WriteWholeFile(folder / "a.bin", "the old file");
  return FetchFault(5, "/run/" + fault + "/a.bin", folder.Path(), RunSize, md5);
}

}  // namespace

TEST(HttpDownloadFaults, WholeAnswersOfAnotherLengthFailAtOnce) {
  for (const char* fault : {"longer", "shorter"}) {
    TTempFolder folder;
    const TOutcome run = FetchOverOldFile(fault, folder);
    EXPECT_TRUE(run.failed) << fault;
    EXPECT_NE(run.error.find("Length Error"), std::string::npos) << fault << ": " << run.error;
    EXPECT_EQ(ReadWholeFile(folder / "a.bin"), "the old file") << fault;
    EXPECT_LT(run.elapsedMs, 5000u) << fault;
  }
}

TEST(HttpDownloadFaults, AnEndlessWholeBodyStopsAtTheExpectedSize) {
  TTempFolder folder;
  const TOutcome run = FetchOverOldFile("endless200", folder);
  EXPECT_TRUE(run.failed);
  EXPECT_NE(run.error.find("exceeds the expected 1200000 bytes"), std::string::npos) << run.error;
  EXPECT_LE(GetFileSize(folder / "a.bin.!tmp"), RunSize);
  EXPECT_EQ(ReadWholeFile(folder / "a.bin"), "the old file");
  EXPECT_LT(run.elapsedMs, 5000u);
}

// Answers that bring nothing (a wrong range) or only a drip (1 KiB of every
// range, then a closed connection or silence) fail the download: after
// bounded restarts, or when no answer has brought a useful amount for the
// no-progress time.
TEST(HttpDownloadFaults, PartialAnswersThatBringTooLittleFailTheDownload) {
  // A drip's bytes reach the disk only when its connection is given up, so
  // on a slow machine the bound on written data may see the silence first.
  const struct {
    const char* fault;
    const char* error;
    const char* alsoRight;
  } cases[] = {{"ignorerange", "25 restarts in a row whose answers brought less than 65536 bytes each", nullptr},
               {"dripclose", "25 restarts in a row whose answers brought less than 65536 bytes each", nullptr},
               {"drip", "no answer brought 65536 bytes for 4 s", "no data written for 4 s"}};
  for (const auto& c : cases) {
    TTempFolder folder;
    const TOutcome run = FetchOverOldFile(c.fault, folder);
    EXPECT_TRUE(run.failed) << c.fault;
    EXPECT_TRUE(run.error.find(c.error) != std::string::npos ||
                (c.alsoRight && run.error.find(c.alsoRight) != std::string::npos))
        << c.fault << ": " << run.error;
    EXPECT_EQ(ReadWholeFile(folder / "a.bin"), "the old file") << c.fault;
    EXPECT_LT(run.elapsedMs, 20000u) << c.fault;
  }
}

// A manifest's Size 0 is an empty file, not an unknown size: an empty body
// is stored, an endless one fails at its first byte.
TEST(HttpDownloadFaults, AnEmptyFileIsBoundedToZeroBytes) {
  TTempFolder folder;
  const TOutcome empty = FetchFault(5, "/run/empty/a.bin", folder.Path(), 0, EmptyInputMd5);
  ASSERT_TRUE(empty.done) << empty.error;
  EXPECT_EQ(GetFileSize(folder / "a.bin"), 0);
  TTempFolder other;
  const TOutcome endless = FetchFault(5, "/run/emptyendless/a.bin", other.Path(), 0, EmptyInputMd5);
  EXPECT_TRUE(endless.failed);
  EXPECT_NE(endless.error.find("the body exceeds the expected 0 bytes"), std::string::npos) << endless.error;
  EXPECT_LE(GetFileSize(other / "a.bin.!tmp"), 0);
  EXPECT_LT(endless.elapsedMs, 5000u);
}

// The stored file is the one the caller names, or else the one the URL
// asked for names; an answer's "Content-Location" or a redirect naming
// another file of the folder never replaces that file. Nothing stalls here:
// the engine's own bounds, so that a loaded machine's slow redirect round
// is not taken for a silent worker.
TEST(HttpDownloadFaults, AnswersNeverNameTheStoredFile) {
  for (const char* fault : {"renamed", "redirectname"}) {
    for (const std::string name : {"", "b.bin"}) {
      TTempFolder folder;
      WriteWholeFile(folder / "victim.txt", "keep me");
      const TOutcome run = FetchFault(5, std::string("/run/") + fault + "/a.bin", folder.Path(), RunSize,
                                      PatternMd5(RunSize), name, TDownloadOptions());
      ASSERT_TRUE(run.done) << fault << " " << name << ": " << run.error;
      EXPECT_EQ(ReadWholeFile(folder / "victim.txt"), "keep me") << fault << " " << name;
      EXPECT_EQ(MD5OfFile(folder / (name.empty() ? "a.bin" : name)), PatternMd5(RunSize)) << fault << " " << name;
    }
  }
}

TEST(HttpDownloadFaults, AStalledPartialAnswerFailsWhenNothingIsWrittenForTheBound) {
  TTempFolder folder;
  const TOutcome run = FetchOverOldFile("stall206", folder);
  EXPECT_TRUE(run.failed);
  EXPECT_NE(run.error.find("no data written for 4 s"), std::string::npos) << run.error;
  EXPECT_EQ(ReadWholeFile(folder / "a.bin"), "the old file");
  EXPECT_LT(run.elapsedMs, 10000u);
}

TEST(HttpDownloadFaults, AnEndlessPartialAnswerIsReadUpToItsRangeOnly) {
  TTempFolder folder;
  const TOutcome run = FetchOverOldFile("endless206", folder, PatternMd5(RunSize));
  ASSERT_TRUE(run.done) << run.error;
  EXPECT_EQ(MD5OfFile(folder / "a.bin"), PatternMd5(RunSize));
  EXPECT_LT(run.elapsedMs, 10000u);
}

TEST(HttpDownloadFaults, DataWithAnotherDigestNeverReplacesTheTarget) {
  TTempFolder folder;
  const TOutcome wrong = FetchOverOldFile("none", folder, std::string(32, 'a'));
  EXPECT_TRUE(wrong.failed);
  EXPECT_NE(wrong.error.find("expected aaaa"), std::string::npos) << wrong.error;
  EXPECT_EQ(ReadWholeFile(folder / "a.bin"), "the old file");
  // The bad data is gone; there is nothing to resume.
  EXPECT_FALSE(FileExists(folder / "a.bin.!tmp"));
  EXPECT_FALSE(FileExists(folder / "a.bin.!dl"));
  // The digest is compared ignoring case; the right data replaces the file.
  std::string upper = PatternMd5(RunSize);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const TOutcome right = FetchOverOldFile("none", folder, upper);
  ASSERT_TRUE(right.done) << right.error;
  EXPECT_EQ(MD5OfFile(folder / "a.bin"), PatternMd5(RunSize));
}

// While a download runs, its resume file names as done only bytes that are
// on the disk, so a process killed at any moment resumes from there.
TEST(HttpDownloadFaults, TheResumeFileIsCheckpointedWhileTheDownloadRuns) {
  TTempFolder folder;
  const int64_t size = 200 * 1024 * 1024;
  TDownloadOptions options;
  options.CheckpointMs = 300;
  THttpDownload download(5, options);
  const uint32_t start = GetTickCount32();
  int64_t doneOnDisk = 0;
  bool checked = false;
  RunDownload(download, DownloadPeerUrl() + "/slow/f200m.bin", folder.Path(), size, [&] {
    if (GetTickCount32() - start < 1500) return true;
    const std::string resume = folder / "f200m.bin.!dl";
    TDownLoadChunk missing(resume);
    const int loaded = missing.LoadFromResume(size);
    missing.DetachResumeFile();
    if (loaded <= 0) return GetTickCount32() - start < 10000;
    doneOnDisk = size - missing.PendingBytes();
    // The first done bytes, read from the temporary file, are the server's.
    std::vector<TByteRange> gaps = missing.Ranges();
    int64_t firstGap = size;
    for (const TByteRange& gap : gaps) firstGap = std::min(firstGap, gap.start);
    const size_t check = static_cast<size_t>(std::min<int64_t>(firstGap, 4 << 20));
    TFileStream temporary(folder / "f200m.bin.!tmp", TFileMode::ReadShared);
    std::string bytes(check, '\0');
    temporary.ReadBuffer(bytes.data(), check);
    EXPECT_EQ(bytes, PatternBytes(0, check));
    checked = true;
    return false;
  });
  ASSERT_TRUE(checked) << "no checkpoint within 10 s";
  EXPECT_GT(doneOnDisk, 0);
  EXPECT_LT(doneOnDisk, size);
  EXPECT_EQ(ReadIniString(folder / "f200m.bin.!dl", "Setup", "FileSize", ""), std::to_string(size));
}
