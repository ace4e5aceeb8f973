// The download engine, the chunk fetch and the many-file batch over two
// mirrors of the same release (tests/peers/mirrors.peer): the first one
// healthy, or failing in one way; the second healthy. The files always end
// up right, both mirrors deliver when both are healthy, and a failing one
// is set aside with its reason.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>

#include "common/Format.h"
#include "common/Md5.h"
#include "http/DownloadPattern.h"
#include "http/HttpBatch.h"
#include "http/HttpDownload.h"
#include "http/MirrorSet.h"
#include "http/RangeFetch.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

namespace {

constexpr int64_t BigSize = 24 << 20;
constexpr int64_t SmallSize = 100000;
constexpr int SmallFiles = 8;

std::string MirrorUrl(int offset) {
  const char* base = std::getenv("LAUNCHER_TEST_PORT_BASE");
  return Format("http://127.0.0.1:%d/engine", (base ? std::atoi(base) : 21000) + offset);
}

// A first mirror, and the reason it is set aside for ("" when it is healthy
// and both mirrors deliver).
struct TFirstMirror {
  const char* name;
  int offset;
  const char* reason;
};

// The run's set: the first mirror, then the healthy one; its log lines kept.
struct TRunMirrors {
  std::shared_ptr<TMirrorSet> set;
  std::mutex lock;
  std::vector<std::string> lines;

  explicit TRunMirrors(int first) : set(std::make_shared<TMirrorSet>(MirrorUrl(first) + "|" + MirrorUrl(80))) {
    set->SetLog([this](const std::string& line) {
      std::lock_guard<std::mutex> guard(lock);
      lines.push_back(line);
    });
  }
  // Lines that start with `start` and hold `part`.
  int Logged(const std::string& start, const std::string& part = std::string()) {
    std::lock_guard<std::mutex> guard(lock);
    int count = 0;
    for (const std::string& line : lines)
      count += line.rfind(start, 0) == 0 && line.find(part) != std::string::npos ? 1 : 0;
    return count;
  }
  // None is set aside (and, when `bothDeliver`, both delivered), or the
  // first is set aside for the reason (logged) and the second is still in use.
  void Check(const TFirstMirror& row, bool bothDeliver = true) {
    const std::vector<TMirrorReport> reports = set->Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].SetAside, "") << row.name;
    if (*row.reason == 0) {
      EXPECT_EQ(reports[0].SetAside, "") << row.name;
      if (!bothDeliver) return;
      EXPECT_GT(reports[0].Bytes, 0) << row.name;
      EXPECT_GT(reports[1].Bytes, 0) << row.name;
      return;
    }
    EXPECT_NE(reports[0].SetAside.find(row.reason), std::string::npos) << row.name << ": " << reports[0].SetAside;
    EXPECT_EQ(Logged("mirror " + reports[0].Base + "/... set aside: ", row.reason), 1) << row.name;
    EXPECT_GT(reports[1].Bytes, 0) << row.name;
  }
};

std::string SmallBytes(int i) { return PatternBytes(i * SmallSize, static_cast<size_t>(SmallSize)); }
std::string SmallName(int i) { return Format("s%d.bin", i); }

// Checks every range against the pattern as the chunk assembly checks its
// chunks, and notes the mirror each came from.
class TCheckedRanges : public TRangeSink {
public:
  explicit TCheckedRanges(std::vector<TFileRange> ranges) : FRanges(std::move(ranges)), FBytes(FRanges.size()), FRight(FRanges.size(), 0) {}
  void RangeFrom(size_t, size_t mirror) override {
    std::lock_guard<std::mutex> guard(FLock);
    Mirrors.insert(mirror);
  }
  void RangeBegin(size_t range) override {
    std::lock_guard<std::mutex> guard(FLock);
    FBytes[range].clear();
  }
  // Each piece is checked as it lands, as the assembly checks each chunk.
  bool RangeData(size_t range, int64_t position, const char* data, size_t length) override {
    std::lock_guard<std::mutex> guard(FLock);
    if (std::string(data, length) != PatternBytes(position, length)) return false;
    FBytes[range].append(data, length);
    return true;
  }
  bool RangeEnd(size_t range) override {
    std::lock_guard<std::mutex> guard(FLock);
    FRight[range] = FBytes[range] == PatternBytes(FRanges[range].Offset, static_cast<size_t>(FRanges[range].Length));
    return FRight[range] != 0;
  }
  size_t Right() {
    std::lock_guard<std::mutex> guard(FLock);
    size_t right = 0;
    for (const uint8_t r : FRight) right += r;
    return right;
  }
  std::set<size_t> Mirrors;

private:
  std::mutex FLock;
  const std::vector<TFileRange> FRanges;
  std::vector<std::string> FBytes;
  std::vector<uint8_t> FRight;
};

}  // namespace

// A large file, at least twice in one run, through the engine's ranged
// workers: spread over two healthy mirrors; a first mirror that never
// accepts, answers 404, serves other bytes of the same size (the whole
// file's MD5 fails: fetched again from one mirror) or crawls (its ranges
// taken over at once, so the file never waits for it; the mirror set aside
// once its requests have run long enough, over the files of the run) is set
// aside, and the healthy one brings the file.
TEST(Mirrors, TheEngineSpreadsAFileAndSetsAFailingMirrorAside) {
  const TFirstMirror rows[] = {{"healthy", 81, ""},
                               {"never accepts", 85, "no connection within 3 s"},
                               {"404", 82, "answered 404"},
                               {"other bytes", 83, "failed the file's MD5"},
                               {"crawl", 84, "too slow"}};
  const std::string md5 = PatternMd5(BigSize);
  for (const TFirstMirror& row : rows) {
    TRunMirrors mirrors(row.offset);
    int rounds = 0;
    for (; rounds < 2 || (*row.reason != 0 && rounds < 10 && !mirrors.set->IsSetAside(0)); ++rounds) {
      TTempFolder folder;
      TDownloadOptions options;
      options.Worker.Mirrors = mirrors.set;
      THttpDownload download(5, options);
      download.SetExpectedDigest(md5);
      const uint32_t start = GetTickCount32();
      const TDownloadOutcome outcome = RunDownload(download, mirrors.set->Base(0) + "/big.bin", folder.Path(),
                                                   BigSize, [&] { return GetTickCount32() - start < 180000; });
      ASSERT_EQ(outcome, TDownloadOutcome::Done) << row.name << ": " << download.ErrorText();
      EXPECT_EQ(MD5OfFile(folder / "big.bin"), md5) << row.name;
    }
    mirrors.Check(row);
    EXPECT_EQ(mirrors.Logged("big.bin: ", " bytes from "), rounds) << row.name;
  }
}

// The chunk fetch's ranges: each range's check (the sink's) pins the mirror
// that delivered it; a failing first mirror is set aside and every range
// comes right from the other.
TEST(Mirrors, TheChunkFetchSpreadsRangesAndSetsAFailingMirrorAside) {
  const TFirstMirror rows[] = {{"healthy", 81, ""},
                               {"never accepts", 85, "no connection within 3 s"},
                               {"404", 82, "404"},
                               {"other bytes", 83, "range data failed its check"}};
  std::vector<TFileRange> ranges;
  for (int64_t at = 0; at < BigSize; at += 1 << 20) ranges.push_back({at, 1 << 20});
  for (const TFirstMirror& row : rows) {
    TRunMirrors mirrors(row.offset);
    TCheckedRanges sink(ranges);
    TRangeFetchOptions options;
    options.Worker.Mirrors = mirrors.set;
    TRangeFetch fetch(mirrors.set->Base(0) + "/big.bin", "", BigSize, ranges, sink, options);
    fetch.Start();
    const uint32_t start = GetTickCount32();
    TRangeFetchState state;
    while ((state = fetch.Poll()) == TRangeFetchState::Running && GetTickCount32() - start < 180000) SleepMs(10);
    ASSERT_EQ(state, TRangeFetchState::Done) << row.name << ": " << fetch.ErrorText();
    EXPECT_EQ(sink.Right(), ranges.size()) << row.name;
    if (*row.reason == 0) {
      EXPECT_EQ(sink.Mirrors.size(), 2u) << row.name;
    }
    mirrors.Check(row);
  }
}

// Small files over the batch's kept connections: over two healthy mirrors
// none is set aside (which of them serves is up to the scheduler: one
// connection may send ahead for every file before the others wake); a
// failing first mirror (never accepts, 404, other bytes that fail the MD5,
// a crawl) is set aside, its files go to the other, and every file is right.
TEST(Mirrors, TheBatchSpreadsFilesAndSetsAFailingMirrorAside) {
  const TFirstMirror rows[] = {{"healthy", 81, ""},
                               {"never accepts", 85, "no connection within 3 s"},
                               {"404", 82, "answered 404"},
                               {"other bytes", 83, "failed their check"},
                               {"crawl", 84, "too slow"}};
  for (const TFirstMirror& row : rows) {
    TRunMirrors mirrors(row.offset);
    TTempFolder folder;
    TBatchOptions options;
    options.Mirrors = mirrors.set;
    THttpBatch batch(BatchConnections, options);
    std::vector<int> jobs;
    for (int i = 0; i < SmallFiles; ++i) {
      TBatchJob job;
      job.Url = mirrors.set->Url(0, "small/" + SmallName(i));
      job.TargetPath = folder / SmallName(i);
      job.ExpectedSize = SmallSize;
      job.Md5 = MD5OfMemory(SmallBytes(i));
      jobs.push_back(batch.Add(job));
    }
    for (int i = 0; i < SmallFiles; ++i) {
      const uint32_t start = GetTickCount32();
      TBatchResult result;
      while ((result = batch.Wait(jobs[i], 100)).Outcome == TBatchOutcome::Pending &&
             GetTickCount32() - start < 180000) {
      }
      ASSERT_EQ(result.Outcome, TBatchOutcome::Done) << row.name << " s" << i << ": " << result.ErrorText;
      EXPECT_EQ(ReadWholeFile(folder / SmallName(i)), SmallBytes(i)) << row.name << i;
    }
    mirrors.Check(row, false);
    const std::vector<TMirrorReport> reports = mirrors.set->Reports();
    EXPECT_EQ(reports[0].Files + reports[1].Files, SmallFiles) << row.name;
  }
}
