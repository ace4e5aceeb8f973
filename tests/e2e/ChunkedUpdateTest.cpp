// Chunked updates against nginx: a large file changed in the ways game
// patches change packs is rebuilt from the old copy and only about the
// changed bytes travel (counted in nginx's access log); whenever the index
// or the server is not right, the whole file comes and the result is the same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

#include "common/Md5.h"
#include "e2e/RunFixture.h"
#include "platform/File.h"
#include "update/chunks/ChunkIndex.h"
#include "update/chunks/ChunkedUpdate.h"

namespace {

std::string Pseudo(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = 0; i + 8 <= size; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(&bytes[i], &x, 8);
  }
  return bytes;
}

constexpr size_t PackSize = 16 << 20;
const char* const PackPath = "data/pack.pak";

// Bytes nginx sent for requests of the release's pack and its index since
// `offset` of the access log ("combined" format: ... "REQUEST" STATUS BYTES ...).
int64_t ServedBytes(size_t offset, const std::string& release, int* requests = nullptr) {
  // The base URL ends in "/", so the launcher asks for "/release//data/...".
  const TAccessTotals totals = AccessSince(offset, {"/" + release + "/", "/" + std::string(PackPath)});
  if (requests) *requests = totals.answers;
  return totals.sent;
}

// The pack and a small file beside it; the release's base URL.
std::string PublishPack(const std::string& release, const std::string& pack) {
  return Publish(release, {{PackPath, pack}, {"data/small.txt", "small"}});
}

struct TOutcome {
  int result = -1;
  bool fileRight = false;
  bool barFull = false;
  std::string log;
};

TOutcome Update(const std::string& baseUrl, const std::string& oldPack, const std::string& newPack) {
  TTempFolder player;
  ForceDirectories(player / "data");
  WriteWholeFile(player / PackPath, oldPack);
  WriteWholeFile(player / "data/small.txt", "small");
  TRun run;
  RunUpdate(run, player.Path(), baseUrl, 0, 180000);
  TOutcome outcome;
  outcome.result = static_cast<int>(run.result);
  outcome.fileRight = ReadWholeFile(player / PackPath) == newPack;
  outcome.barFull = run.sink.FileBarFull();
  outcome.log = run.log;
  EXPECT_FALSE(FileExists(ChunkedOutputPath(player / PackPath)));
  EXPECT_FALSE(FileExists(ChunkedRecordPath(player / PackPath)));
  return outcome;
}

struct TChange {
  const char* name;
  std::function<std::string(const std::string&)> apply;
  int64_t changedBytes;
  int sites;
};

const TChange Changes[] = {
    {"1% in 20 places",
     [](const std::string& old) {
       std::string s = old;
       const size_t each = PackSize / 100 / 20;
       for (size_t k = 0; k < 20; ++k) {
         const size_t at = k * (PackSize / 20) + 12345;
         for (size_t i = 0; i < each; ++i) s[at + i] = static_cast<char>(~s[at + i]);
       }
       return s;
     },
     static_cast<int64_t>(PackSize / 100), 20},
    {"20 blocks of 128 KiB inserted",
     [](const std::string& old) {
       std::string s = old;
       for (size_t k = 20; k-- > 0;) s.insert(k * (PackSize / 20) + 777, Pseudo(128 << 10, 100 + static_cast<uint32_t>(k)));
       return s;
     },
     20 * (128 << 10), 20},
    {"200 scattered 4 KiB overwrites",
     [](const std::string& old) {
       std::string s = old;
       for (size_t k = 0; k < 200; ++k) {
         const size_t at = k * (PackSize / 200) + 999;
         for (size_t i = 0; i < 4096; ++i) s[at + i] = static_cast<char>(s[at + i] + 1);
       }
       return s;
     },
     200 * 4096, 200},
    {"deletions and a new tail",
     [](const std::string& old) {
       std::string s = old;
       for (size_t k = 10; k-- > 0;) s.erase(k * (PackSize / 10) + 5000, 64 << 10);
       return s + Pseudo(1 << 20, 7);
     },
     1 << 20, 11},
};

}  // namespace

// Each kind of change: the file ends byte for byte right, the file bar
// reaches its end, and what nginx sent for the pack (its index included) is
// the changed bytes plus about two chunks around each changed place. Many
// small ranges go out ahead of the answers on their connections.
TEST(ChunkedUpdate, OnlyAboutTheChangedBytesTravelForEachKindOfChange) {
  const std::string old = Pseudo(PackSize, 1);
  int number = 0;
  for (const TChange& change : Changes) {
    const std::string fresh = change.apply(old);
    const std::string release = "chunked" + std::to_string(number++);
    const std::string url = PublishPack(release, fresh);
    const int64_t indexSize = GetFileSize(UpdateRoot() + "/" + release + "/" + PackPath + ".chunks");
    const size_t offset = LogSize(AccessLogPath()), connections = LogSize(ConnectionLogPath());
    const TOutcome outcome = Update(url, old, fresh);
    EXPECT_EQ(outcome.result, 1) << change.name;
    EXPECT_TRUE(outcome.fileRight) << change.name;
    EXPECT_TRUE(outcome.barFull) << change.name;
    EXPECT_NE(outcome.log.find("bytes reused"), std::string::npos) << change.name << "\n" << outcome.log;
    int requests = 0;
    const int64_t served = ServedBytes(offset, release, &requests);
    const int64_t bound = change.changedBytes + change.sites * (96 << 10) + indexSize;
    EXPECT_GT(served, change.changedBytes) << change.name;
    EXPECT_LE(served, bound) << change.name << ": " << served << " bytes in " << requests << " requests";
    if (change.sites >= 100) {
      const size_t said = outcome.log.find(" sent ahead of an answer");
      ASSERT_NE(said, std::string::npos) << outcome.log;
      const int ahead = std::atoi(outcome.log.c_str() + outcome.log.rfind(' ', said - 1) + 1);
      EXPECT_GE(ahead, requests / 2) << change.name;
      // nginx found them waiting
      EXPECT_GT(ServedSince(connections, "GET /" + release + "/").pipelined, 0) << change.name;
    }
    std::printf("[ chunked  ] %-32s %lld bytes served in %d requests (changed %lld, index %lld)\n", change.name,
                static_cast<long long>(served), requests, static_cast<long long>(change.changedBytes),
                static_cast<long long>(indexSize));
  }
}

// A copy without a state entry is digested while it is cut into chunks, not
// before: when it is right already, nothing of it travels.
TEST(ChunkedUpdate, AnUnrecordedCopyThatIsRightStaysWithoutAFetch) {
  const std::string pack = Pseudo(PackSize, 4);
  const std::string release = "chunkright";
  const std::string url = PublishPack(release, pack);
  const size_t offset = LogSize(AccessLogPath());
  const TOutcome outcome = Update(url, pack, pack);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_TRUE(outcome.fileRight);
  EXPECT_NE(outcome.log.find("the local copy is right"), std::string::npos) << outcome.log;
  int requests = 0;
  EXPECT_EQ(ServedBytes(offset, release, &requests), 0) << requests << " requests";
}

// Whatever is off, the whole file comes and the run ends right; the log
// names the reason.
TEST(ChunkedUpdate, EveryFaultFallsBackToTheWholeFile) {
  const std::string old = Pseudo(PackSize, 2);
  const std::string fresh = Changes[0].apply(old);
  struct TCase {
    const char* name;
    std::function<void(const std::string& release)> spoil;
    std::string prefix;  // of the base URL's path
    std::string newPack;
    const char* reason;
  };
  const auto indexPath = [](const std::string& release) {
    return UpdateRoot() + "/" + release + "/" + PackPath + ".chunks";
  };
  const TCase cases[] = {
      {"damaged index",
       [&](const std::string& release) {
         std::string index = ReadWholeFile(indexPath(release));
         index[index.size() - 3] ^= 1;
         WriteWholeFile(indexPath(release), index);
       },
       "", fresh, "does not match its size and digest"},
      {"server ignores ranges", nullptr, "noranges/", fresh, "ignores byte ranges"},
      // The index (and the manifest's digest of it) says another hash for a
      // changed chunk than the bytes the server sends.
      {"chunk served wrong",
       [&](const std::string& release) {
         const std::string bytes = ReadWholeFile(indexPath(release));
         TChunkIndex index;
         std::string error;
         ASSERT_TRUE(ParseChunkIndex(bytes.data(), bytes.size(), TChunkIndexLimits(), index, error)) << error;
         int64_t at = 0;
         for (TIndexChunk& chunk : index.Chunks) {
           if (at + chunk.Length > 12345) {
             chunk.Digest[0] ^= 1;
             break;
           }
           at += chunk.Length;
         }
         const std::string spoiled = WriteChunkIndex(index);
         WriteWholeFile(indexPath(release), spoiled);
         const std::string manifestPath = UpdateRoot() + "/" + release + "/update.json";
         nlohmann::json manifest = nlohmann::json::parse(ReadWholeFile(manifestPath));
         for (auto& element : manifest)
           if (element.contains("ChunkIndexMD5")) element["ChunkIndexMD5"] = MD5OfMemory(spoiled);
         WriteWholeFile(manifestPath, manifest.dump());
       },
       "", fresh, "does not match its hash"},
      {"most of the file new", nullptr, "", Pseudo(PackSize, 3), "the whole file is cheaper"},
  };
  int number = 0;
  for (const TCase& test : cases) {
    const std::string release = "chunkfault" + std::to_string(number++);
    PublishPack(release, test.newPack);
    if (test.spoil) test.spoil(release);
    const std::string url = ServerUrl() + test.prefix + release + "/";
    const TOutcome outcome = Update(url, old, test.newPack);
    EXPECT_EQ(outcome.result, 1) << test.name;
    EXPECT_TRUE(outcome.fileRight) << test.name;
    EXPECT_NE(outcome.log.find("chunked update not used"), std::string::npos) << test.name << "\n" << outcome.log;
    EXPECT_NE(outcome.log.find(test.reason), std::string::npos) << test.name << "\n" << outcome.log;
  }
}
