// The pure pieces of chunked updates: the chunker, the index format, the
// planner, and the assembly of a new file from an old copy and fetched bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "common/Md5.h"
#include "platform/File.h"
#include "signing/Crypto.h"
#include "support/TestSupport.h"
#include "update/chunks/ChunkAssembly.h"
#include "update/chunks/ChunkIndex.h"
#include "update/chunks/ChunkPlan.h"

namespace {

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t value = random();
    std::memcpy(&bytes[i], &value, 8);
  }
  return bytes;
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

TChunkIndex IndexOf(const std::string& file) {
  TChunkIndex index;
  index.Params = DefaultChunkParams();
  index.FileSize = static_cast<int64_t>(file.size());
  TMd5 md5;
  md5.Update(file.data(), file.size());
  md5.Final(index.FileMd5.data());
  index.Chunks = ChunkBuffer(index.Params, Bytes(file), file.size());
  return index;
}

std::vector<TOldChunk> OldChunksOf(const std::string& file) {
  std::vector<TOldChunk> old;
  int64_t offset = 0;
  for (const TIndexChunk& chunk : ChunkBuffer(DefaultChunkParams(), Bytes(file), file.size())) {
    old.push_back({offset, chunk.Length, chunk.Digest});
    offset += chunk.Length;
  }
  return old;
}

}  // namespace

TEST(Chunker, CutsDependOnTheBytesOnlyAndStayWithinBounds) {
  const std::string file = RandomBytes(4 << 20, 1);
  const std::vector<TIndexChunk> whole = ChunkBuffer(DefaultChunkParams(), Bytes(file), file.size());
  // Fed in odd pieces, the chunker cuts at the same places.
  for (const size_t piece : {size_t(1), size_t(7), size_t(4096), size_t(65537)}) {
    TChunker chunker(DefaultChunkParams());
    std::vector<uint32_t> lengths;
    size_t at = 0, start = 0;
    while (at < file.size()) {
      const size_t give = std::min(piece, file.size() - at);
      size_t used = 0;
      while (used < give) {
        bool ended = false;
        used += chunker.Feed(Bytes(file) + at + used, give - used, ended);
        if (ended) {
          lengths.push_back(static_cast<uint32_t>(at + used - start));
          start = at + used;
        }
      }
      at += give;
    }
    if (start < file.size()) lengths.push_back(static_cast<uint32_t>(file.size() - start));
    ASSERT_EQ(lengths.size(), whole.size()) << piece;
    for (size_t i = 0; i < whole.size(); ++i) ASSERT_EQ(lengths[i], whole[i].Length) << piece << " " << i;
  }
  uint64_t sum = 0;
  for (size_t i = 0; i < whole.size(); ++i) {
    sum += whole[i].Length;
    if (i + 1 < whole.size()) EXPECT_GE(whole[i].Length, 4096u);
    EXPECT_LE(whole[i].Length, 65536u);
  }
  EXPECT_EQ(sum, file.size());
  const double average = static_cast<double>(file.size()) / static_cast<double>(whole.size());
  EXPECT_GT(average, 10000.0);
  EXPECT_LT(average, 24000.0);
}

TEST(ChunkIndex, WritesAndReadsBackAndRefusesEveryDamage) {
  const std::string file = RandomBytes(1 << 20, 2);
  const TChunkIndex index = IndexOf(file);
  const std::string bytes = WriteChunkIndex(index);
  EXPECT_EQ(bytes.size(), ChunkIndexBytes(index.Chunks.size()));
  TChunkIndex read;
  std::string error;
  ASSERT_TRUE(ParseChunkIndex(bytes.data(), bytes.size(), TChunkIndexLimits(), read, error)) << error;
  EXPECT_EQ(read.FileSize, index.FileSize);
  EXPECT_EQ(read.FileMd5, index.FileMd5);
  EXPECT_EQ(read.Params.Gear, index.Params.Gear);
  ASSERT_EQ(read.Chunks.size(), index.Chunks.size());
  EXPECT_EQ(read.Chunks.back().Digest, index.Chunks.back().Digest);

  const size_t header = ChunkIndexBytes(0);
  struct TCase {
    const char* name;
    std::function<void(std::string&, TChunkIndexLimits&)> damage;
  };
  const TCase cases[] = {
      {"magic", [](std::string& b, TChunkIndexLimits&) { b[0] = 'X'; }},
      {"version", [](std::string& b, TChunkIndexLimits&) { b[8] = 2; }},
      {"hash kind", [](std::string& b, TChunkIndexLimits&) { b[12] = 9; }},
      {"maximum below minimum", [](std::string& b, TChunkIndexLimits&) { b[24] = 0; b[25] = 0; b[26] = 0; }},
      {"cut short", [](std::string& b, TChunkIndexLimits&) { b.resize(b.size() - 1); }},
      {"one byte more", [](std::string& b, TChunkIndexLimits&) { b.push_back('\0'); }},
      {"header only", [header](std::string& b, TChunkIndexLimits&) { b.resize(header - 1); }},
      {"zero length", [header](std::string& b, TChunkIndexLimits&) { std::memset(&b[header], 0, 4); }},
      {"lengths off the size", [header](std::string& b, TChunkIndexLimits&) { b[header] ^= 1; }},
      {"count huge", [header](std::string& b, TChunkIndexLimits&) { std::memset(&b[header - 8], 0xFF, 8); }},
      {"over the byte limit", [](std::string& b, TChunkIndexLimits& l) { l.MaxBytes = b.size() - 1; }},
      {"over the chunk limit", [](std::string&, TChunkIndexLimits& l) { l.MaxChunks = 3; }},
      // A 64-byte minimum would cut a 1 GiB copy into 16 M chunks (about 800 MiB).
      {"minimum tiny for the copy",
       [](std::string& b, TChunkIndexLimits& l) {
         std::memset(&b[16], 0, 4);
         b[16] = 64;
         l.CutBytes = 1ull << 30;
       }},
      {"a short chunk before the last",
       [&](std::string& b, TChunkIndexLimits&) {
         // The first two lengths moved: same sum, the first below the minimum.
         uint32_t first = 0, second = 0;
         std::memcpy(&first, &b[header], 4);
         std::memcpy(&second, &b[header + 20], 4);
         second += first - 4095;
         first = 4095;
         ASSERT_LE(second, 65536u);
         std::memcpy(&b[header], &first, 4);
         std::memcpy(&b[header + 20], &second, 4);
       }},
      {"more chunks than the minimum allows",
       [](std::string& b, TChunkIndexLimits&) {
         for (const size_t at : {16, 20, 24}) std::memcpy(&b[at], "\0\0\x08\0", 4);  // 512 KiB each
       }},
  };
  for (const TCase& test : cases) {
    std::string damaged = bytes;
    TChunkIndexLimits limits;
    test.damage(damaged, limits);
    error.clear();
    EXPECT_FALSE(ParseChunkIndex(damaged.data(), damaged.size(), limits, read, error)) << test.name;
    EXPECT_FALSE(error.empty()) << test.name;
  }
}

TEST(ChunkPlan, FetchesOnlyWhatChangedAndMergesCloseGaps) {
  const std::string old = RandomBytes(8 << 20, 3);
  struct TCase {
    const char* name;
    std::function<std::string(std::string)> change;
    TPlanOptions options;
    int64_t maxFetch;     // bytes to fetch at most
    size_t ranges;        // exact count, or 0 for "any"
    bool worthwhile;
  };
  const auto overwrite = [](std::string s, size_t at, size_t length) {
    for (size_t i = 0; i < length; ++i) s[at + i] = static_cast<char>(~s[at + i]);
    return s;
  };
  TPlanOptions noBridge;
  noBridge.BridgeGap = 0;
  TPlanOptions wideBridge;
  wideBridge.BridgeGap = 1 << 20;
  TPlanOptions shortRanges;
  shortRanges.MaxRange = 70000;
  const TCase cases[] = {
      {"same file", [](std::string s) { return s; }, {}, 0, 0, true},
      {"one byte", [&](std::string s) { return overwrite(s, 3 << 20, 1); }, {}, 2 * 65536, 1, true},
      {"inserted block", [](std::string s) { return s.insert(1 << 20, RandomBytes(128 << 10, 9)); }, {},
       (128 << 10) + 2 * 65536, 1, true},
      {"deleted block", [](std::string s) { return s.erase(2 << 20, 100000); }, {}, 2 * 65536, 1, true},
      {"two changes apart", [&](std::string s) { return overwrite(overwrite(s, 1 << 20, 1), 5 << 20, 1); }, {},
       4 * 65536, 2, true},
      {"two changes bridged", [&](std::string s) { return overwrite(overwrite(s, 1 << 20, 1), (1 << 20) + 300000, 1); },
       wideBridge, 300000 + 2 * 65536, 1, true},
      {"long change cut", [&](std::string s) { return overwrite(s, 1 << 20, 200000); }, shortRanges, 200000 + 2 * 65536,
       0, true},
      {"most of it new", [](std::string s) { return RandomBytes(s.size(), 4); }, noBridge, 8 << 20, 0, false},
  };
  const std::vector<TOldChunk> oldChunks = OldChunksOf(old);
  for (const TCase& test : cases) {
    const std::string fresh = test.change(old);
    const TChunkIndex index = IndexOf(fresh);
    const TChunkPlan plan = PlanChunkedUpdate(oldChunks, index, test.options);
    EXPECT_LE(plan.FetchBytes, test.maxFetch) << test.name;
    if (test.ranges) EXPECT_EQ(plan.Ranges.size(), test.ranges) << test.name;
    EXPECT_EQ(plan.Worthwhile, test.worthwhile) << test.name;
    EXPECT_EQ(plan.FetchBytes + plan.ReusedBytes, index.FileSize) << test.name;
    // Every step is either copied from a chunk that holds its bytes or lies
    // inside the range it names, and ranges respect their bound.
    for (const TChunkStep& step : plan.Steps) {
      if (step.OldOffset >= 0) {
        EXPECT_EQ(old.compare(static_cast<size_t>(step.OldOffset), step.Length, fresh, static_cast<size_t>(step.Offset),
                              step.Length), 0) << test.name;
      } else {
        ASSERT_GE(step.Range, 0) << test.name;
        const TFetchRange& range = plan.Ranges[static_cast<size_t>(step.Range)];
        EXPECT_GE(step.Offset, range.Offset) << test.name;
        EXPECT_LE(step.Offset + step.Length, range.Offset + range.Length) << test.name;
      }
    }
    for (const TFetchRange& range : plan.Ranges) EXPECT_LE(range.Length, std::max<int64_t>(test.options.MaxRange, 65536)) << test.name;
  }
}

// Builds the new file from the old one and the fetched ranges; a chunk
// served wrong is refused before it is written; a range that comes in while
// the old chunks are being copied is recorded, a stop then leaves the old
// copy as it was, and a second assembly of the same index takes the ranges
// recorded by the first. Ranges may come in any order.
TEST(ChunkAssembly, BuildsTheNewFileChecksEveryChunkAndResumes) {
  TTempFolder folder;
  std::string old = RandomBytes(3 << 20, 5);
  std::string fresh = old;
  fresh.insert(1 << 20, RandomBytes(200000, 6));
  fresh.erase(2 << 20, 50000);
  WriteWholeFile(folder / "pack.bin", old);
  const TChunkIndex index = IndexOf(fresh);
  std::vector<TOldChunk> oldChunks;
  ASSERT_TRUE(ScanChunks(folder / "pack.bin", index.Params, nullptr, oldChunks));
  EXPECT_EQ(oldChunks.size(), OldChunksOf(old).size());
  const TChunkPlan plan = PlanChunkedUpdate(oldChunks, index);
  ASSERT_GE(plan.Ranges.size(), 2u);
  {
    TChunkAssembly assembly(index, plan, folder / "pack.bin.!new", folder / "pack.bin.!chunks", "digest-1");
    ASSERT_TRUE(assembly.Open());
    ASSERT_TRUE(assembly.StartCopy(folder / "pack.bin"));
    // A wrong byte in the first range's data.
    const TFetchRange& first = plan.Ranges[0];
    std::string wrong = fresh.substr(static_cast<size_t>(first.Offset), static_cast<size_t>(first.Length));
    wrong[wrong.size() / 2] ^= 1;
    assembly.Begin(0);
    EXPECT_FALSE(assembly.Land(0, first.Offset, wrong.data(), wrong.size()));
    EXPECT_NE(assembly.LandError().find("does not match"), std::string::npos);
    // Served right, in pieces; only the first range, then the "kill".
    assembly.Begin(0);
    for (int64_t at = 0; at < first.Length; at += 1000) {
      const size_t piece = static_cast<size_t>(std::min<int64_t>(1000, first.Length - at));
      ASSERT_TRUE(assembly.Land(0, first.Offset + at, fresh.data() + first.Offset + at, piece));
    }
    ASSERT_TRUE(assembly.End(0));
    // The copy's thread records it while the copy runs; then the stop.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadWholeFile(folder / "pack.bin.!chunks") != "chunks of index digest-1\n0\n" &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadWholeFile(folder / "pack.bin.!chunks"), "chunks of index digest-1\n0\n");
    EXPECT_EQ(assembly.CopyError(), "");
  }
  EXPECT_TRUE(ReadWholeFile(folder / "pack.bin") == old);
  TChunkAssembly assembly(index, plan, folder / "pack.bin.!new", folder / "pack.bin.!chunks", "digest-1");
  ASSERT_TRUE(assembly.Open());
  EXPECT_TRUE(assembly.RangeDone(0));
  for (size_t r = plan.Ranges.size() - 1; r >= 1; --r) {
    EXPECT_FALSE(assembly.RangeDone(r));
    const TFetchRange& range = plan.Ranges[r];
    assembly.Begin(r);
    ASSERT_TRUE(assembly.Land(r, range.Offset, fresh.data() + range.Offset, static_cast<size_t>(range.Length)));
    ASSERT_TRUE(assembly.End(r));
  }
  // The SHA-256 a signed run requires is taken beside the MD5.
  assembly.ExpectSha256(Sha256Hex(fresh));
  int64_t lastProgress = 0;
  std::string error;
  ASSERT_TRUE(assembly.Finish(folder / "pack.bin", nullptr, [&](int64_t done) { lastProgress = done; }, error)) << error;
  EXPECT_EQ(lastProgress, index.FileSize);
  assembly.Discard();
  EXPECT_TRUE(ReadWholeFile(folder / "pack.bin.!new") == fresh);
  EXPECT_FALSE(FileExists(folder / "pack.bin.!chunks"));
  // A record of another index is not taken.
  WriteWholeFile(folder / "pack.bin.!chunks", "chunks of index digest-2\n0\n");
  TChunkAssembly other(index, plan, folder / "pack.bin.!new", folder / "pack.bin.!chunks", "digest-1");
  ASSERT_TRUE(other.Open());
  EXPECT_FALSE(other.RangeDone(0));
}

// An old chunk that no longer matches when the copy reads it (the copy
// changed after it was cut) ends the assembly with the reason, whatever the
// fetch does meanwhile.
TEST(ChunkAssembly, RefusesAnOldCopyThatChangedAfterItWasCut) {
  TTempFolder folder;
  const std::string old = RandomBytes(2 << 20, 7);
  std::string fresh = old;
  fresh.replace(1 << 20, 4096, RandomBytes(4096, 8));
  WriteWholeFile(folder / "pack.bin", old);
  const TChunkIndex index = IndexOf(fresh);
  std::vector<TOldChunk> oldChunks;
  ASSERT_TRUE(ScanChunks(folder / "pack.bin", index.Params, nullptr, oldChunks));
  const TChunkPlan plan = PlanChunkedUpdate(oldChunks, index);
  ASSERT_GE(plan.Ranges.size(), 1u);
  std::string changed = old;
  changed[(3 << 20) / 2] ^= 1;  // in a chunk the plan copies
  WriteWholeFile(folder / "pack.bin", changed);
  TChunkAssembly assembly(index, plan, folder / "pack.bin.!new", folder / "pack.bin.!chunks", "digest-1");
  ASSERT_TRUE(assembly.Open());
  ASSERT_TRUE(assembly.StartCopy(folder / "pack.bin"));
  for (size_t r = 0; r < plan.Ranges.size(); ++r) {
    const TFetchRange& range = plan.Ranges[r];
    assembly.Begin(r);
    ASSERT_TRUE(assembly.Land(r, range.Offset, fresh.data() + range.Offset, static_cast<size_t>(range.Length)));
    ASSERT_TRUE(assembly.End(r));
  }
  std::string error;
  EXPECT_FALSE(assembly.Finish(folder / "pack.bin", nullptr, nullptr, error));
  EXPECT_EQ(error, "the local copy changed during the update");
  EXPECT_EQ(assembly.CopyError(), error);
  assembly.Discard();
}
