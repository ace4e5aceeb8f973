// Repair against nginx: a player's folder damaged in the ways disks,
// antivirus programs and players damage it is checked file by file by
// content, whatever the state file records, and only what is wrong is
// fetched: a flipped byte in a pack with a chunk index costs about its
// chunk, a missing or cut file comes whole. Nothing of the player's is
// deleted, and the run's count of bytes received agrees with what nginx
// sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "common/Md5.h"
#include "e2e/RunFixture.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "update/run/RunOutcome.h"

namespace {

const char* const Release = "repair";
const char* const PackPath = "data/pack.dat";  // large enough for a chunk index
constexpr size_t PackSize = 16 << 20;
constexpr int64_t MaxChunk = 64 << 10;
// A whole file through the ranged engine: nginx may have written up to a
// range more to connections closed early.
constexpr int64_t WholeFileMost(int64_t size) { return size + size / 2; }

const TFiles& ReleaseFiles() {
  static const TFiles files = {{PackPath, Bytes(PackSize, 11)},
                               {"data/mid.bin", Bytes(1 << 20, 12)},
                               {"data/small.txt", "a small file of the release"},
                               {"readme.txt", "read me"}};
  return files;
}

// A time well before the run, so that a rebuilt copy never shares it.
constexpr uint32_t OldDosTime = (40u << 25) | (1u << 21) | (1u << 16) | (12u << 11);  // 2020-01-01 12:00

// What nginx sent for the release since `offset`: body bytes of every
// answer, of those for `path` alone, and the number of answers.
struct TServedBytes {
  int64_t all = 0, file = 0;
  int answers = 0;
};
TServedBytes Served(size_t offset, const std::string& path) {
  const std::string release = std::string("/") + Release + "/";
  const TAccessTotals all = AccessSince(offset, {release});
  TServedBytes served;
  served.all = all.sent;
  served.answers = all.answers;
  // The index beside the file is not the file.
  if (!path.empty()) served.file = AccessSince(offset, {release, "/" + path + " "}).sent;
  return served;
}

// A repair run of `folder`; its outcome and what the window was told.
TRunOutcome Repair(TRun& run, const std::string& folder, const std::string& url) {
  TUpdateEnvironment environment = Environment(folder);
  environment.Repair = true;
  TRunOutcome outcome;
  {
    TUpdateThread thread(run.sink, 0, StateFileName(0), ClientManifestName, url, environment);
    run.posted = run.sink.Done.WaitFor(180000);
    thread.TerminateAndWait();
    outcome = thread.Outcome();
  }
  run.log = ReadWholeFile(folder + "UpdateLog.txt");
  return outcome;
}

std::string LastLine(const std::string& log) {
  std::string text = log;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

void FlipByte(const std::string& path, size_t at) {
  std::string bytes = ReadWholeFile(path);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
  WriteWholeFile(path, bytes);
}

void SetReadOnly(const std::string& path) {
  using std::filesystem::perms;
  std::filesystem::permissions(path, perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
}

struct TDamage {
  const char* name;
  std::function<void(const std::string& folder)> apply;
  const char* file;       // the damaged file, "" for none
  int repaired;           // files the repair fetches again
  int64_t mustArrive;     // bytes of that file the run must receive at least
  int64_t fileBytesMost;  // nginx's body bytes for that file at most
};

}  // namespace

// Each damage: a normal run does not see the flipped byte whose time was
// restored; the repair ends with every file right, the player's own files
// kept and listed as extra, the closing line counting what it did, its
// bytes received agreeing with nginx's log, and only the damaged file's
// bytes (for the pack: at most two chunks) sent.
TEST(Repair, EachDamageEndsWithEveryFileRightAndOnlyItFetched) {
  const std::string url = Publish(Release, ReleaseFiles());
  const TDamage damages[] = {
      {"a flipped byte in the pack, its time restored",
       [](const std::string& folder) {
         FlipByte(folder + PackPath, 5 << 20);
         SetFileDosDateTime(folder + PackPath, OldDosTime);
       },
       PackPath, 1, 1, 2 * MaxChunk},
      {"a file cut short", [](const std::string& folder) { WriteWholeFile(folder + "data/mid.bin", "cut"); },
       "data/mid.bin", 1, 1 << 20, WholeFileMost(1 << 20)},
      {"a file deleted", [](const std::string& folder) { DeleteFileAt(folder + "readme.txt"); }, "readme.txt", 1, 7,
       7},
      {"a folder in a file's place",
       [](const std::string& folder) {
         DeleteFileAt(folder + "data/small.txt");
         ForceDirectories(folder + "data/small.txt");
         WriteWholeFile(folder + "data/small.txt/inside.txt", "the player's");
       },
       "data/small.txt", 1, 27, 27},
      {"a damaged read-only file",
       [](const std::string& folder) {
         FlipByte(folder + "data/mid.bin", 1000);
         SetReadOnly(folder + "data/mid.bin");
       },
       "data/mid.bin", 1, 1 << 20, WholeFileMost(1 << 20)},
      {"nothing damaged", [](const std::string&) {}, "", 0, 0, 0},
  };
  for (const TDamage& damage : damages) {
    SCOPED_TRACE(damage.name);
    TTempFolder player;
    TRun install;
    RunUpdate(install, player.Path(), url);
    ASSERT_EQ(install.result, 1u) << install.log;
    // The pack's recorded time lies in the past, as a player's would.
    SetFileDosDateTime(player / PackPath, OldDosTime);
    TRun record;
    RunUpdate(record, player.Path(), url);
    ExpectInstalled(player.Path(), ReleaseFiles());
    WriteWholeFile(player / "mine.cfg", "the player's settings");
    ForceDirectories(player / "screenshots");
    WriteWholeFile(player / "screenshots/shot1.bmp", "a screenshot");

    damage.apply(player.Path());
    if (damage.file == std::string(PackPath)) {
      const size_t offset = LogSize(AccessLogPath());
      TRun normal;
      RunUpdate(normal, player.Path(), url);
      EXPECT_NE(MD5OfFile(player / PackPath), MD5OfMemory(ReleaseFiles().at(PackPath)))
          << "a normal run trusts the recorded time";
      EXPECT_EQ(Served(offset, PackPath).file, 0);
    }

    const size_t offset = LogSize(AccessLogPath());
    TRun run;
    const TRunOutcome outcome = Repair(run, player.Path(), url);
    EXPECT_TRUE(run.posted);
    EXPECT_EQ(outcome.End, TRunEnd::Done) << run.log;
    ExpectInstalled(player.Path(), ReleaseFiles());
    EXPECT_EQ(ReadWholeFile(player / "mine.cfg"), "the player's settings");
    EXPECT_EQ(ReadWholeFile(player / "screenshots/shot1.bmp"), "a screenshot");
    EXPECT_NE(run.log.find("extra file (not in the manifest, kept): mine.cfg"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("extra file (not in the manifest, kept): screenshots\\shot1.bmp"), std::string::npos);
    EXPECT_EQ(run.log.find("extra file (not in the manifest, kept): launcher.ini"), std::string::npos);
    EXPECT_EQ(run.log.find("extra file (not in the manifest, kept): data\\update"), std::string::npos);

    const TServedBytes served = Served(offset, damage.file);
    EXPECT_EQ(outcome.Figures.Checked, static_cast<int>(ReleaseFiles().size()));
    EXPECT_EQ(outcome.Figures.Repaired, damage.repaired);
    EXPECT_EQ(LastLine(run.log).substr(24), RepairSummary(outcome.Figures));
    // The run counts what arrived: never more than nginx sent with each
    // answer's header (nginx counts what it wrote to connections that the
    // engine closes once their range is in, too).
    EXPECT_GE(outcome.Figures.BytesFetched, damage.mustArrive);
    EXPECT_LE(outcome.Figures.BytesFetched, served.all + 1024 * served.answers);
    EXPECT_LE(served.file, damage.fileBytesMost);
    if (damage.repaired > 0) {
      EXPECT_GT(served.file, 0);
    }
    EXPECT_EQ(ClosingStatusText(outcome), damage.repaired == 0
                                              ? std::string(Cp936("校验完成，所有文件完好"))
                                              : Cp936("校验完成，已修复 1 个文件"));
    EXPECT_TRUE(run.sink.StatusStartsWith(Cp936("正在校验 data\\pack.dat "))) << run.log;
    if (damage.file == std::string("data/small.txt")) {
      EXPECT_EQ(ReadWholeFile(player / "data/small.txt.aside/inside.txt"), "the player's");
    }
    std::printf("[ repair   ] %-48s %lld bytes received, %lld of the file\n", damage.name,
                static_cast<long long>(outcome.Figures.BytesFetched), static_cast<long long>(served.file));
  }
}
