// Chunk ranges against a server whose 206 answers name another range than
// the one asked for: every mismatch ends the fetch, so that the caller falls
// back to the whole file instead of placing bytes at the wrong offset.
#include <gtest/gtest.h>

#include <mutex>

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

}  // namespace

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
// fetch alike, each within its bound, not when the drip would be done.
TEST(RangeFetch, ADripIsCutOffLikeSilence) {
  const struct {
    const char* path;
    const char* reason;
  } cases[] = {{"/stall", "no data for"}, {"/dl-drip?size=100000", "no answer brought"}};
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
