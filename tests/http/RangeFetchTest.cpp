// Chunk ranges through the download engine: real files from nginx (sent
// ahead, behind a redirect, without range support), a server whose 206
// answers name another range than the one asked for (every mismatch ends
// the fetch, so that the caller falls back to the whole file instead of
// placing bytes at the wrong offset), and servers that stall or drip.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "http/DownloadPattern.h"
#include "http/RangeFetch.h"
#include "platform/Tick.h"

namespace {

class TCollect : public TRangeSink {
public:
  void RangeBegin(size_t) override {
    std::lock_guard<std::mutex> guard(FLock);
    Bytes.clear();
  }
  bool RangeData(size_t, int64_t, const char* data, size_t length) override {
    std::lock_guard<std::mutex> guard(FLock);
    Bytes.append(data, length);
    return true;
  }
  bool RangeEnd(size_t) override { return true; }
  std::string Bytes;

private:
  std::mutex FLock;
};

// Each range's bytes by range number, as they came.
class TByRange : public TRangeSink {
public:
  explicit TByRange(size_t count) : Bytes(count) {}
  void RangeBegin(size_t range) override {
    std::lock_guard<std::mutex> guard(FLock);
    Bytes[range].clear();
  }
  bool RangeData(size_t range, int64_t, const char* data, size_t length) override {
    std::lock_guard<std::mutex> guard(FLock);
    Bytes[range].append(data, length);
    return true;
  }
  bool RangeEnd(size_t) override { return true; }
  std::vector<std::string> Bytes;

private:
  std::mutex FLock;
};

TRangeFetchState RunToEnd(TRangeFetch& fetch, const std::vector<uint8_t>& wanted = {}) {
  fetch.Start(wanted);
  TRangeFetchState state = TRangeFetchState::Running;
  const uint32_t start = GetTickCount32();
  while ((state = fetch.Poll()) == TRangeFetchState::Running && GetTickCount32() - start < 60000) SleepMs(10);
  return state;
}

}  // namespace

// Many small ranges of a 3 MiB file from nginx, through the download
// engine: straight, behind a redirect whose cookie and referer the target
// folder requires (later ranges go where it led), and from a folder without
// range support, which ends the fetch so that the caller takes the whole
// file. Ranges are sent ahead on kept connections.
TEST(RangeFetch, RangesOfARealFileArriveThroughTheEngine) {
  const int64_t size = 3 * 1024 * 1024 + 17;
  std::vector<TRangeFetch::TRange> ranges;
  for (int64_t at = 100; at + 4000 <= size; at += 70001) ranges.push_back({at, 4000});
  ranges.push_back({size - 17, 17});
  const struct {
    const char* path;
    bool done;
  } cases[] = {{"/dl/f3m.bin", true}, {"/moved/f3m.bin", true}, {"/norange/f3m.bin", false}};
  for (const auto& c : cases) {
    TByRange sink(ranges.size());
    TRangeFetch fetch(DownloadPeerUrl() + c.path, "", size, ranges, sink);
    const TRangeFetchState state = RunToEnd(fetch);
    if (!c.done) {
      EXPECT_EQ(state, TRangeFetchState::Failed) << c.path;
      EXPECT_NE(fetch.ErrorText().find("ignores byte ranges"), std::string::npos) << c.path << ": " << fetch.ErrorText();
      continue;
    }
    ASSERT_EQ(state, TRangeFetchState::Done) << c.path << ": " << fetch.ErrorText();
    for (size_t r = 0; r < ranges.size(); ++r)
      EXPECT_EQ(sink.Bytes[r], PatternBytes(ranges[r].Offset, static_cast<size_t>(ranges[r].Length)))
          << c.path << " range " << r;
    EXPECT_EQ(fetch.Received(), 4000 * static_cast<int64_t>(ranges.size() - 1) + 17) << c.path;
    EXPECT_GT(fetch.RequestsSentAhead(), 0) << c.path;
  }
  // Only the ranges still wanted travel.
  TByRange sink(ranges.size());
  std::vector<uint8_t> wanted(ranges.size(), 0);
  wanted[3] = wanted[7] = 1;
  TRangeFetch fetch(DownloadPeerUrl() + "/dl/f3m.bin", "", size, ranges, sink);
  ASSERT_EQ(RunToEnd(fetch, wanted), TRangeFetchState::Done) << fetch.ErrorText();
  EXPECT_EQ(fetch.Requests(), 2);
  EXPECT_EQ(sink.Bytes[3], PatternBytes(ranges[3].Offset, 4000));
  EXPECT_TRUE(sink.Bytes[4].empty());
}

// The fault server answers every request with "206", "Content-Range: bytes
// 5-9/100" and the five bytes "56789".
TEST(RangeFetch, OnlyTheExactRangeOfTheExpectedFileIsTaken) {
  struct TCase {
    const char* name;
    TRangeFetch::TRange range;
    int64_t fileSize;
    bool taken;
  };
  const TCase cases[] = {
      {"the range asked for", {5, 5}, 100, true},
      {"another start", {0, 5}, 100, false},
      {"a longer range", {5, 6}, 100, false},
      {"another file size", {5, 5}, 200, false},
  };
  for (const TCase& test : cases) {
    TCollect sink;
    TRangeFetch fetch(FaultServerUrl() + "/bad-content-range", "", test.fileSize, {test.range}, sink);
    fetch.Start();
    TRangeFetchState state = TRangeFetchState::Running;
    const uint32_t start = GetTickCount32();
    while ((state = fetch.Poll()) == TRangeFetchState::Running && GetTickCount32() - start < 30000) SleepMs(10);
    if (test.taken) {
      EXPECT_EQ(state, TRangeFetchState::Done) << test.name << ": " << fetch.ErrorText();
      EXPECT_EQ(sink.Bytes, "56789") << test.name;
    } else {
      EXPECT_EQ(state, TRangeFetchState::Failed) << test.name;
      // The worker's own check of the start, or the fetch's of the whole range.
      EXPECT_NE(fetch.ErrorText().find("Content-Range"), std::string::npos)
          << test.name << ": " << fetch.ErrorText();
    }
  }
}

// A server that falls silent and one that drips a byte every 0.1 s end the
// fetch alike, each within the engine's bound, not when the drip would be
// done: silence before any byte is a time-out, a drip brings no range in.
TEST(RangeFetch, ADripIsCutOffLikeSilence) {
  const struct {
    const char* path;
    const char* reason;
  } cases[] = {{"/stall", "\xB3\xAC\xCA\xB1\xB4\xED\xCE\xF3"},  // "超时错误" in code page 936
               {"/dl-drip?size=100000", "no data written for 2 s"}};
  for (const auto& c : cases) {
    TRangeFetchOptions options;
    options.SilenceMs = 1500;
    options.NoProgressMs = 2000;
    options.Retries = 0;
    TCollect sink;
    TRangeFetch fetch(FaultServerUrl() + c.path, "", 100000, {{1000, 10000}}, sink, options);
    fetch.Start();
    TRangeFetchState state = TRangeFetchState::Running;
    const uint32_t start = GetTickCount32();
    while ((state = fetch.Poll()) == TRangeFetchState::Running && GetTickCount32() - start < 60000) SleepMs(10);
    EXPECT_EQ(state, TRangeFetchState::Failed) << c.path;
    EXPECT_NE(fetch.ErrorText().find(c.reason), std::string::npos) << c.path << ": " << fetch.ErrorText();
    // The drip would take 1000 s.
    EXPECT_LT(GetTickCount32() - start, 30000u) << c.path;
  }
}
