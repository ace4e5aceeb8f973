#include "http/BGFileStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "support/TestSupport.h"

TEST(BGFileStream, BlocksLandAtTheirOffsetsWithoutTruncatingTheFile) {
  TTempFolder folder;
  const std::string path = folder / "f.!tmp";
  WriteWholeFile(path, std::string(16, '.'));
  std::atomic<int64_t> written{0};
  {
    TBGFileStream writer(path);
    writer.OnWritten = [&](int64_t, int64_t n) { written += n; };
    ASSERT_TRUE(writer.Queue(8, "89", 2));
    ASSERT_TRUE(writer.Queue(0, "01", 2));
    ASSERT_TRUE(writer.Queue(20, "KL", 2));  // beyond the end: the file grows
  }
  EXPECT_EQ(written.load(), 6);
  const std::string bytes = ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(0, 16), std::string("01......89......"));
  EXPECT_EQ(bytes.substr(20), "KL");
}

TEST(BGFileStream, QueueIsBoundedAndEveryBlockIsWritten) {
  TTempFolder folder;
  const std::string path = folder / "big.!tmp";
  const size_t block = 64 * 1024, blocks = 200, limit = 256 * 1024;
  std::atomic<size_t> peak{0};
  {
    TBGFileStream writer(path, limit);
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
      workers.emplace_back([&, w] {
        std::string data(block, static_cast<char>('a' + w));
        for (size_t i = static_cast<size_t>(w); i < blocks; i += 4) {
          // Half the blocks are copied in, half are handed over in the
          // storage of written ones: that storage is filled again while the
          // writer works, so it must never come back before its write.
          if (w % 2 == 0) {
            ASSERT_TRUE(writer.Queue(static_cast<int64_t>(i * block), data.data(), data.size()));
          } else {
            std::vector<char> spare = writer.Spare();
            spare.assign(data.begin(), data.end());
            ASSERT_TRUE(writer.Queue(static_cast<int64_t>(i * block), std::move(spare)));
            EXPECT_TRUE(spare.empty());
          }
          size_t now = writer.QueuedBytes(), seen = peak.load();
          while (now > seen && !peak.compare_exchange_weak(seen, now)) {
          }
        }
      });
    }
    for (auto& t : workers) t.join();
    writer.Drain();
    EXPECT_EQ(writer.QueuedBytes(), 0u);
  }
  EXPECT_LE(peak.load(), limit);
  const std::string bytes = ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), block * blocks);
  for (size_t i = 0; i < blocks; ++i) {
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(i * block);
    EXPECT_EQ(std::count(first, first + static_cast<std::ptrdiff_t>(block), static_cast<char>('a' + i % 4)),
              static_cast<std::ptrdiff_t>(block))
        << i;
  }
}

// A device that refuses every write stands for a full disk: the first
// failure is reported once, nothing counts as written, and no further block
// is taken.
TEST(BGFileStream, AWriteErrorIsReportedOnceAndStopsTheWriter) {
  std::error_code error;
  if (!std::filesystem::exists("/dev/full", error)) GTEST_SKIP() << "no /dev/full on this system";
  std::atomic<int> errors{0};
  std::atomic<int64_t> written{0}, failedAt{-1};
  TBGFileStream writer("/dev/full");
  writer.OnWritten = [&](int64_t, int64_t n) { written += n; };
  writer.OnWriteError = [&](int64_t position, const std::string&) {
    ++errors;
    failedAt = position;
  };
  ASSERT_TRUE(writer.Queue(0, "0123456789", 10));
  for (int i = 0; i < 200 && !writer.Failed(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(writer.Failed());
  EXPECT_FALSE(writer.Queue(10, "abc", 3));
  writer.Drain();
  EXPECT_EQ(errors.load(), 1);
  EXPECT_EQ(failedAt.load(), 0);
  EXPECT_EQ(written.load(), 0);
}
