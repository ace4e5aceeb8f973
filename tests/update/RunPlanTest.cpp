// The run's pure decisions: the way each file travels, what a run's end
// means to the tool and to the window, and which files of the folder a
// repair lists as the player's own.
#include <gtest/gtest.h>

#include "common/PathUtils.h"
#include "update/run/FilePlan.h"
#include "update/run/RepairScan.h"
#include "update/run/RunOutcome.h"
#include "update/run/UpdateTexts.h"

TEST(RunPlan, EachFileTakesOneWay) {
  constexpr int64_t Limit = 262144;
  struct TRow {
    const char* name;
    TFileFacts facts;
    TFileWay way;
    bool unpack;
  };
  const auto facts = [](int runPlan, int64_t size, bool zip, bool launcher, bool index, bool batch) {
    TFileFacts f;
    f.RunPlan = runPlan;
    f.Size = size;
    f.IsZip = zip;
    f.IsLauncher = launcher;
    f.HasChunkIndex = index;
    f.BatchOpen = batch;
    f.BatchSizeLimit = Limit;
    return f;
  };
  const TRow rows[] = {
      {"small file", facts(1, 1000, false, false, false, true), TFileWay::Batch, false},
      {"empty file", facts(1, 0, false, false, false, true), TFileWay::Batch, false},
      {"small file, batch closed", facts(1, 1000, false, false, false, false), TFileWay::Ranges, false},
      {"small zipped entry", facts(1, 1000, true, false, false, true), TFileWay::Batch, true},
      {"at the batch limit", facts(1, Limit, false, false, false, true), TFileWay::Ranges, false},
      {"large file", facts(1, 5 << 20, false, false, false, true), TFileWay::Ranges, false},
      {"large file with an index", facts(1, 5 << 20, false, false, true, true), TFileWay::Chunks, false},
      {"small file with an index", facts(1, 1000, false, false, true, true), TFileWay::Batch, false},
      {"large zipped entry with an index", facts(1, 5 << 20, true, false, true, true), TFileWay::Ranges, true},
      {"launcher's own file with an index", facts(1, 5 << 20, false, true, true, true), TFileWay::Ranges, false},
      {"full package first", facts(2, 5 << 20, false, false, true, true), TFileWay::FullPackage, false},
      {"a plan that fetches nothing", facts(3, 1000, false, false, false, true), TFileWay::NotFetched, false},
  };
  for (const TRow& row : rows) {
    const TFilePlan plan = PlanFile(row.facts);
    EXPECT_EQ(plan.Way, row.way) << row.name;
    EXPECT_EQ(plan.Unpack, row.unpack) << row.name;
  }
}

TEST(RunPlan, EachEndHasItsExitCodeAndClosingText) {
  const auto outcome = [](TRunEnd end, bool repair, int repaired) {
    TRunOutcome o;
    o.End = end;
    o.Repair = repair;
    o.Figures.Repaired = repaired;
    return o;
  };
  struct TRow {
    TRunOutcome outcome;
    int code;       // stable
    int exit;       // launcher-update's
    bool through;   // the window hears success
    std::string closing;
  };
  const std::string none;
  const TRow rows[] = {
      {outcome(TRunEnd::Done, false, 0), 0, 0, true, none},
      {outcome(TRunEnd::FilesStillWrong, false, 0), 1, 3, true, none},
      {outcome(TRunEnd::ManifestNotFetched, false, 0), 2, 1, false, none},
      {outcome(TRunEnd::SignatureRefused, false, 0), 3, 4, false, none},
      {outcome(TRunEnd::CertificateRefused, false, 0), 4, 5, false, none},
      {outcome(TRunEnd::KeyInvalid, false, 0), 5, 2, false, none},
      {outcome(TRunEnd::DiskShort, false, 0), 6, 6, false, none},
      {outcome(TRunEnd::Cancelled, false, 0), 7, 1, false, none},
      {outcome(TRunEnd::DocumentWrongShape, false, 0), 8, 1, false, none},
      {outcome(TRunEnd::ManifestUnreadable, false, 0), 9, 1, false, none},
      {outcome(TRunEnd::Running, false, 0), 10, 1, false, none},
      {outcome(TRunEnd::Done, true, 0), 0, 0, true, UpdateText::RepairDoneIntact},
      {outcome(TRunEnd::Done, true, 3), 0, 0, true,
       "\xD0\xA3\xD1\xE9\xCD\xEA\xB3\xC9\xA3\xAC\xD2\xD1\xD0\xDE\xB8\xB4 3 \xB8\xF6\xCE\xC4\xBC\xFE"},
      {outcome(TRunEnd::FilesStillWrong, true, 2), 1, 3, true, none},
      {outcome(TRunEnd::ManifestNotFetched, true, 0), 2, 1, false, none},
  };
  for (const TRow& row : rows) {
    const int code = static_cast<int>(row.outcome.End);
    EXPECT_EQ(code, row.code);
    EXPECT_EQ(ExitCode(row.outcome), row.exit) << code;
    EXPECT_EQ(RunWentThrough(row.outcome.End), row.through) << code;
    EXPECT_EQ(ClosingStatusText(row.outcome), row.closing) << code << (row.outcome.Repair ? " repair" : "");
  }
  TRepairFigures figures;
  figures.Checked = 340;
  figures.Repaired = 2;
  figures.BytesFetched = 123456789012;
  EXPECT_EQ(RepairSummary(figures), "repair: 340 files checked, 2 files repaired, 123456789012 bytes fetched");
}

TEST(RunPlan, ARepairListsOnlyThePlayersOwnFilesAsExtra) {
  const std::vector<std::string> onDisk = {
      "launcher.ini",       "UpdateLog.txt",        "Launcher.exe",          "launcher.update",
      "data\\update.json",  "data\\update0.local",  "data\\update0.versions", "data\\update.json.sig",
      "data\\launcher\\x",  "data\\pack.dat.!new",  "data\\pack.dat.!chunks", "data\\mid.bin.!tmp",
      "data\\pack.dat",     "DATA\\Small.TXT",      "game.exe",              "mine.cfg",
      "screenshots\\a.bmp", "data\\updates\\b.dat", "data\\mine\\update.txt", "launcher"};
  std::set<std::string> named;
  for (const char* file : {"data/pack.dat", "data/small.txt", "game.exe"}) named.insert(WindowsPathKey(file));
  EXPECT_EQ(ExtraFiles(onDisk, named, "launcher"),
            (std::vector<std::string>{"data\\mine\\update.txt", "data\\updates\\b.dat", "launcher", "mine.cfg",
                                      "screenshots\\a.bmp"}));
  // A launcher named in Chinese whose character ends in the byte of "\\".
  const std::string base = "\x95\x5C";
  EXPECT_EQ(ExtraFiles({base + ".exe", base + ".update", base + "mine.txt", "Data\\" + base + ".cfg"}, {}, base),
            (std::vector<std::string>{"Data\\" + base + ".cfg", base + "mine.txt"}));
  EXPECT_EQ(AsideName("d\\x", [](const std::string& name) { return name == "d\\x.aside" || name == "d\\x.aside2"; }),
            "d\\x.aside3");
}
