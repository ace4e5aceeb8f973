// Whole update runs against nginx serving releases made by the manifest tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "common/Format.h"
#include "common/Md5.h"
#include "e2e/RunFixture.h"
#include "http/HttpBatch.h"
#include "http/HttpDownload.h"
#include "package/LauncherSettings.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Tick.h"

namespace {

// The total bar never moves back while its maximum stays: not from one file
// to the next, nor after a download that failed part-way, nor between passes.
void ExpectTotalsNeverGoBack(TRun& run, const std::string& what) {
  const auto totals = run.sink.Messages(UM_TOTAL_PROGRESS);
  for (size_t i = 1; i < totals.size(); ++i)
    if (totals[i].lParam == totals[i - 1].lParam) {
      EXPECT_GE(totals[i].wParam, totals[i - 1].wParam) << what << ", post " << i;
    }
}

TFiles SampleRelease() {
  return {{"Client.bin", Bytes(100000, 1)},
          {"data/ui/small.txt", Bytes(4096, 2)},
          {"data/big.pak", Bytes(3 * 1024 * 1024 + 5, 3)},
          {"Korblib.dll", Bytes(4097, 4)}};
}

}  // namespace

TEST(UpdateRun, FreshInstallThenANoOpRun) {
  const TFiles files = SampleRelease();
  const std::string base = Publish("fresh", files);
  TTempFolder folder;
  TRun first;
  RunUpdate(first, folder.Path(), base);
  ASSERT_TRUE(first.posted);
  EXPECT_EQ(first.result, 1u);
  EXPECT_EQ(first.mode, 0);
  ExpectInstalled(folder.Path(), files);
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 0);
  EXPECT_TRUE(FileExists(folder / "data/update0.local"));
  EXPECT_TRUE(FileExists(folder / "data/update.json"));
  EXPECT_TRUE(FileExists(folder / "UpdateLog.txt"));
  EXPECT_TRUE(first.sink.StatusStartsWith(Cp936("正在检查更新...")));
  EXPECT_TRUE(first.sink.StatusStartsWith("\xD5\xFD\xD4\xDA\xBC\xEC\xB2\xE9\xB8\xFC\xD0\xC2"));  // "正在检查更新"
  EXPECT_EQ(first.stillWrong, 0);
  EXPECT_TRUE(first.sink.StatusStartsWith(Cp936("正在下载 ")));

  TRun second;
  RunUpdate(second, folder.Path(), base);
  ASSERT_TRUE(second.posted);
  EXPECT_EQ(second.result, 1u);
  EXPECT_FALSE(second.sink.StatusStartsWith(Cp936("正在下载 ")));
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 0);
}

TEST(UpdateRun, ChangedAndDeletedFilesAreRepaired) {
  const TFiles files = SampleRelease();
  const std::string base = Publish("repair", files);
  TTempFolder folder;
  TRun first;
  RunUpdate(first, folder.Path(), base);
  ASSERT_EQ(first.result, 1u);
  // A change shows by the file time (a change within the same 2-second slot
  // keeps the recorded digest).
  WriteWholeFile(folder / "data/big.pak", "changed");
  ASSERT_TRUE(SetFileUnixTime(folder / "data/big.pak", 1600000000));
  DeleteFileAt(folder / "Client.bin");
  TRun second;
  RunUpdate(second, folder.Path(), base);
  ASSERT_EQ(second.result, 1u);
  ExpectInstalled(folder.Path(), files);
  EXPECT_TRUE(second.sink.StatusStartsWith(Cp936("正在下载 data\\big.pak")));
  EXPECT_TRUE(second.sink.StatusStartsWith(Cp936("正在下载 Client.bin")));
}

TEST(UpdateRun, ZippedEntriesAreUnpackedAndTheArchivesGo) {
  TFiles files = SampleRelease();
  files["launcher.dll"] = Bytes(5000, 5);  // unpacked like every other entry
  const std::string base = Publish("zipped", files, {"--zip"});
  TTempFolder folder;
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.result, 1u);
  ExpectInstalled(folder.Path(), files);
  EXPECT_FALSE(FileExists(folder / "data/big.pak.zip"));
  EXPECT_FALSE(FileExists(folder / "launcher.dll.zip"));
  EXPECT_TRUE(run.sink.StatusStartsWith(Cp936("正在下载 data\\big.pak.zip")));
  // The next start finds every file right and fetches nothing.
  TRun again;
  RunUpdate(again, folder.Path(), base);
  EXPECT_EQ(again.stillWrong, 0);
  EXPECT_FALSE(again.sink.StatusStartsWith(Cp936("正在下载 ")));
}

TEST(UpdateRun, FullPackageFirstWhenThePlanSaysSo) {
  const TFiles files = SampleRelease();
  const std::string base = Publish("full", files, {"--full-package"});
  TTempFolder folder;
  WriteUpdateNow(folder.Path(), 2);
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.result, 1u);
  ExpectInstalled(folder.Path(), files);
  EXPECT_TRUE(run.sink.StatusStartsWith(Cp936("正在下载完整包...")));
  // Nothing was fetched file by file.
  EXPECT_FALSE(run.sink.StatusStartsWith(Cp936("正在下载 Client.bin")));
  EXPECT_FALSE(run.sink.StatusStartsWith(Cp936("正在下载 data\\big.pak")));
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 0);
}

TEST(UpdateRun, ServerDownReportsTheManifestFailure) {
  TTempFolder folder;
  TRun run;
  // A port where nothing listens.
  RunUpdate(run, folder.Path(), HttpUrl(9) + "none/");
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.result, 0u);
  EXPECT_EQ(run.mode, 0);
  EXPECT_TRUE(run.sink.StatusStartsWith(Cp936("#100 : 下载配置文件失败，请检查网络。 ")));
  EXPECT_TRUE(run.sink.StatusStartsWith(Cp936("[网络故障]: 域名服务器故障，请稍候再试")));
  const auto errors = run.sink.Messages(UM_UPDATE_ERROR);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.front().wParam, 100u);
  EXPECT_FALSE(FileExists(folder / "data/update0.local"));
}

TEST(UpdateRun, CancelledRunResumesItsDownload) {
  const TFiles files = {{"data/huge.pak", Bytes(24 * 1024 * 1024, 9)}};
  Publish("cancel", files);
  // The same release through the rate-limited path.
  const std::string slow = ServerUrl() + "slow/cancel/";
  TTempFolder folder;
  {
    TRun run;
    TUpdateThread thread(run.sink, 0, StateFileName(0), ClientManifestName, slow, Environment(folder.Path()));
    ASSERT_TRUE(run.sink.Progress.WaitFor(60000));
    SleepMs(300);
    // Destroyed in the middle: cancelled, no done message.
  }
  EXPECT_TRUE(FileExists(folder / "data/huge.pak.!tmp"));
  EXPECT_TRUE(FileExists(folder / "data/huge.pak.!dl"));
  TRun again;
  RunUpdate(again, folder.Path(), ServerUrl() + "cancel/");
  ASSERT_TRUE(again.posted);
  EXPECT_EQ(again.result, 1u);
  ExpectInstalled(folder.Path(), files);
  EXPECT_FALSE(FileExists(folder / "data/huge.pak.!dl"));
}

TEST(UpdateRun, ManifestThroughThePublicDnsFallback) {
  // Port +6 listens on 127.0.0.9 only. "localhost" is 127.0.0.1 for the
  // system resolver, so the direct request and the local-resolver retry
  // fail; the test DNS peer answers 127.0.0.9 for it, and the retry through
  // that address succeeds.
  const TFiles files = {{"Client.bin", Bytes(5000, 21)}};
  Publish("dns", files);
  const std::string base = "http://localhost:" + std::to_string(PortBase() + 6) + "/dns/";
  TTempFolder folder;
  TRun run;
  TUpdateEnvironment environment = Environment(folder.Path());
  environment.Download.WatchdogMs = 500;  // the files themselves stay out of reach
  RunUpdate(run, folder.Path(), base, 0, 120000, environment);
  ASSERT_TRUE(run.posted);
  EXPECT_TRUE(FileExists(folder / "data/update.json"));
  const std::string& log = run.log;
  EXPECT_NE(log.find("local DNSIP 127.0.0.1"), std::string::npos);
  EXPECT_NE(log.find("request public DNSIP"), std::string::npos);
  EXPECT_NE(log.find("public DNSIP count 1"), std::string::npos);
  EXPECT_NE(log.find("public DNSIP 127.0.0.9"), std::string::npos);
  EXPECT_TRUE(run.sink.StatusStartsWith(Cp936("#100 : 下载配置文件失败，请检查网络。 ")));
}

// The host name that failed for the manifest fails for the files too: once
// the fallback has reached the server by address, the whole run goes there,
// small files (kept-alive batch) and large ones (ranged engine) alike.
TEST(UpdateRun, FilesFollowTheManifestToTheFallbackAddress) {
  const TFiles files = {{"Client.bin", Bytes(5000, 41)},
                        {"data/small.txt", Bytes(300, 42)},
                        {"data/big.pak", Bytes(2 * 1024 * 1024 + 3, 43)}};
  Publish("dnsfiles", files);
  const std::string base = "http://localhost:" + std::to_string(PortBase() + 6) + "/dnsfiles/";
  TTempFolder folder;
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.result, 1u);
  EXPECT_EQ(run.stillWrong, 0);
  ExpectInstalled(folder.Path(), files);
  EXPECT_NE(ReadWholeFile(folder / "UpdateLog.txt").find("public DNSIP 127.0.0.9"), std::string::npos);
}

TEST(UpdateRun, FullPackageFollowsTheManifestToTheFallbackAddress) {
  const TFiles files = {{"Client.bin", Bytes(7000, 44)}, {"data/big.pak", Bytes(600000, 45)}};
  Publish("dnsfull", files, {"--full-package"});
  const std::string base = "http://localhost:" + std::to_string(PortBase() + 6) + "/dnsfull/";
  TTempFolder folder;
  WriteUpdateNow(folder.Path(), 2);
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.result, 1u);
  ExpectInstalled(folder.Path(), files);
  EXPECT_TRUE(run.sink.StatusStartsWith(Cp936("正在下载完整包...")));
  EXPECT_FALSE(run.sink.StatusStartsWith(Cp936("正在下载 Client.bin")));
}

TEST(UpdateRun, LauncherRunLeavesTheNewLauncherBesideTheRunningOne) {
  // In updateL.json the top-level .exe is the launcher's own entry: it is
  // compared and kept as <base>.update; the running program is not touched.
  const TFiles files = {{"launcher.exe", Bytes(70000, 31)}, {"launcher.dll", Bytes(3000, 32)}};
  const std::string base = Publish("selfupdate", files, {"--name", "updateL.json"});
  TTempFolder folder;
  WriteWholeFile(folder / "launcher.exe", "the running program");
  TRun run;
  RunUpdate(run, folder.Path(), base, 1);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.result, 1u);
  EXPECT_EQ(run.mode, 1);
  EXPECT_EQ(MD5OfFile(folder / "launcher.update"), MD5OfMemory(files.at("launcher.exe")));
  EXPECT_EQ(ReadWholeFile(folder / "launcher.exe"), "the running program");
  EXPECT_EQ(MD5OfFile(folder / "launcher.dll"), MD5OfMemory(files.at("launcher.dll")));
  EXPECT_TRUE(FileExists(folder / "data/update1.local"));
  // The folder the new launcher was fetched into goes once it is empty.
  EXPECT_FALSE(DirectoryExists(folder / "data/launcher"));

  // The next launcher run finds the .update copy valid and fetches nothing.
  TRun again;
  RunUpdate(again, folder.Path(), base, 1);
  EXPECT_EQ(again.result, 1u);
  EXPECT_FALSE(again.sink.StatusStartsWith(Cp936("正在下载 ")));
}

// --- names and paths of the install folder ---------------------------------

namespace {

// Adds hand-written entries to a published manifest (entries that
// launcher-manifest refuses to publish).
void AddEntries(const std::string& base, const std::vector<nlohmann::json>& entries) {
  const std::string path = UpdateRoot() + "/" +
                           base.substr(ServerUrl().size()) + "update.json";
  nlohmann::json manifest = nlohmann::json::parse(ReadWholeFile(path));
  for (const nlohmann::json& entry : entries) manifest.push_back(entry);
  WriteWholeFile(path, manifest.dump(1));
}

nlohmann::json Element(const std::string& file, const std::string& bytes) {
  return {{"File", file}, {"isLauncher", 0}, {"Need", true}, {"Hash", MD5OfMemory(bytes)},
          {"Size", static_cast<int>(bytes.size())}, {"IsZip", false}};
}

int LinesContaining(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace

// Entries refused for their names (device names, names Windows changes, a
// drive's colon) never reach the disk and count as files still wrong.
TEST(UpdatePaths, RefusedEntriesAreFilesStillWrong) {
  const TFiles files = {{"good.bin", Bytes(5000, 41)}};
  const std::string base = Publish("refused", files);
  const std::vector<std::string> refused = {"com1.bin", "lpt1.pak", "aux.txt", "nul", "data\\con.dat",
                                            "a:b.txt",  "b.txt.",   "c.txt "};
  std::vector<nlohmann::json> entries;
  for (const std::string& name : refused) entries.push_back(Element(name, "device data"));
  AddEntries(base, entries);
  TTempFolder folder;
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.result, 1u);  // the window hears success, as always
  EXPECT_EQ(run.stillWrong, static_cast<int>(refused.size()));
  ExpectInstalled(folder.Path(), files);
  // What the folder holds (a device name would "exist" on Windows whatever
  // was written, so the folder is listed instead).
  std::set<std::string> held;
  const std::filesystem::path root(Cp936ToUtf16(folder.Path()));
  for (const auto& item : std::filesystem::recursive_directory_iterator(root))
    held.insert(Utf16ToCp936(item.path().filename().u16string()));
  EXPECT_EQ(held, (std::set<std::string>{"good.bin", "data", "update.json", "update0.local", "UpdateLog.txt",
                                         "launcher.ini"}));
  const std::string log = ReadWholeFile(folder / "UpdateLog.txt");
  EXPECT_EQ(LinesContaining(log, " (refused)"), static_cast<int>(refused.size())) << log;
  EXPECT_EQ(LinesContaining(log, "unsafe file name rejected: "), static_cast<int>(refused.size())) << log;
  EXPECT_EQ(run.sink.Statuses().back(), Cp936("下载文件 com1.bin 失败，请稍后再试"));
}

// Two entries for one file as Windows compares paths: the first keeps it
// over three runs, the second is refused each time and never fetched.
TEST(UpdatePaths, ACaseCollidingPairNeverFlips) {
  const TFiles files = {{"Data/A.bin", Bytes(70000, 42)}};
  const std::string base = Publish("casepair", files);
  AddEntries(base, {Element("data\\a.bin", Bytes(70000, 43))});
  TTempFolder folder;
  for (int round = 1; round <= 3; ++round) {
    TRun run;
    RunUpdate(run, folder.Path(), base);
    ASSERT_TRUE(run.posted) << round;
    EXPECT_EQ(run.result, 1u) << round;
    EXPECT_EQ(run.stillWrong, 1) << round;
    EXPECT_EQ(MD5OfFile(folder / "Data/A.bin"), MD5OfMemory(files.at("Data/A.bin"))) << round;
    EXPECT_EQ(run.sink.StatusStartsWith(Cp936("正在下载 ")), round == 1) << round;
    const std::string log = ReadWholeFile(folder / "UpdateLog.txt");
    EXPECT_NE(log.find("entry refused: \"data\\a.bin\" names the same file as the earlier entry \"Data\\A.bin\""),
              std::string::npos)
        << log;
    EXPECT_NE(ReadWholeFile(folder / "data/update0.local").find("Data\\A.bin=" + MD5OfMemory(files.at("Data/A.bin"))),
              std::string::npos)
        << round;
  }
}

// A file whose full path passes 260 characters installs, is recorded and is
// found right by the next run.
TEST(UpdatePaths, AFileWithAPathPast300CharactersInstalls) {
  const std::string name = "long/" + std::string(90, 'a') + "/" + std::string(90, 'b') + "/" + std::string(90, 'c') +
                           ".bin";
  const TFiles files = {{name, Bytes(300000, 44)}, {"short.bin", Bytes(100, 45)}};
  const std::string base = Publish("longpath", files);
  TTempFolder folder;
  ASSERT_GT(folder.Path().size() + name.size(), 300u);
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.stillWrong, 0);
  ExpectInstalled(folder.Path(), files);
  TRun again;
  RunUpdate(again, folder.Path(), base);
  EXPECT_EQ(again.stillWrong, 0);
  EXPECT_FALSE(again.sink.StatusStartsWith(Cp936("正在下载 ")));
}

// Names in Chinese whose characters end in the byte of "\\" (乗 is 0x81 0x5C),
// a folder's last one included: the folder is made, and the names reach the
// server whole through the kept connections, the ranged engine and chunk by
// chunk against an older copy; the next run finds them right.
TEST(UpdatePaths, ChineseNamesWhoseTrailByteIsABackslashInstall) {
  std::string pack = Bytes(3 << 20, 48);
  const std::string oldPack = pack;
  pack.replace(1 << 20, 4096, Bytes(4096, 49));
  const TFiles files = {
      {Cp936("乗俓/僜.txt"), Bytes(1000, 46)}, {Cp936("乗俓/刓.bin"), Bytes(600000, 47)}, {Cp936("匼.pak"), pack}};
  const std::string base = Publish("dbcsnames", files, {"--chunk-index", "1"});
  TTempFolder folder;
  WriteWholeFile(folder / Cp936("匼.pak"), oldPack);
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.stillWrong, 0) << run.log;
  ExpectInstalled(folder.Path(), files);
  EXPECT_EQ(LinesContaining(run.log, " bytes reused, "), 1) << run.log;
  TRun again;
  RunUpdate(again, folder.Path(), base);
  EXPECT_EQ(again.stillWrong, 0);
  EXPECT_FALSE(again.sink.StatusStartsWith(Cp936("正在下载 ")));
}

// A write refused for another cause than a full disk (here a folder where
// the temporary file goes) does not send the player to the disk space; the
// log names the file and the system's reason.
TEST(UpdatePaths, AWriteThatFailsForAnotherCauseNamesItInTheLog) {
  const TFiles files = {{"blocked.bin", Bytes(3000, 46)}, {"ok.bin", Bytes(3000, 47)}};
  const std::string base = Publish("blocked", files);
  TTempFolder folder;
  ASSERT_TRUE(ForceDirectories(folder / "blocked.bin.!tmp"));
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.stillWrong, 1);
  EXPECT_EQ(MD5OfFile(folder / "ok.bin"), MD5OfMemory(files.at("ok.bin")));
  for (const std::string& status : run.sink.Statuses())
    EXPECT_EQ(status.find(Cp936("请检查磁盘空间")), std::string::npos) << Cp936ToUtf8(status);
  EXPECT_EQ(run.sink.Statuses().back(), Cp936("下载文件 blocked.bin 失败，请稍后再试"));
  const std::string log = ReadWholeFile(folder / "UpdateLog.txt");
  const size_t line = log.find("blocked.bin.!tmp: write error: Cannot open file");
  ASSERT_NE(line, std::string::npos) << log;
  // The system's reason follows the file name: more than the bare phrase.
  const std::string rest = log.substr(line, log.find('\n', line) - line);
  EXPECT_GT(rest.size(), rest.find("\". ") + 4) << rest;
  EXPECT_NE(log.find("blocked.bin not written; the disk has room"), std::string::npos) << log;
}

// --- a misbehaving update server -------------------------------------------

namespace {

std::string FaultRunUrl(const std::string& fault) {
  return HttpUrl(1) + "run/" + fault;
}

// Short watchdogs, so that stalls end within seconds. Every file goes
// through the download engine, as after the resolver fallback.
TUpdateEnvironment ImpatientEnvironment(const std::string& folder) {
  TUpdateEnvironment environment = Environment(folder);
  environment.Download.WatchdogMs = 800;
  environment.Download.NoProgressMs = 3000;
  environment.BatchConnections = 0;
  return environment;
}

}  // namespace

// Whatever the server does wrong, the run ends in bounded time, tells the
// window it succeeded (the player may log in), knows that the file is still
// wrong, and never puts anything unverified in place of the old file.
TEST(UpdateRunFaults, EachServerFaultEndsInBoundedTimeAndKeepsTheOldFile) {
  for (const char* fault : {"status500", "redirectloop", "longer", "shorter", "endless200", "stall200", "stall206",
                            "ignorerange", "drip", "emptyendless"}) {
    TTempFolder folder;
    WriteWholeFile(folder / "a.bin", "the old file");
    TRun run;
    RunUpdate(run, folder.Path(), FaultRunUrl(fault), 0, 120000, ImpatientEnvironment(folder.Path()));
    ASSERT_TRUE(run.posted) << fault;
    EXPECT_EQ(run.result, 1u) << fault;
    EXPECT_EQ(run.stillWrong, 1) << fault;
    EXPECT_EQ(ReadWholeFile(folder / "a.bin"), "the old file") << fault;
    EXPECT_LT(run.elapsedMs, 60000u) << fault;
    const std::string log = ReadWholeFile(folder / "UpdateLog.txt");
    EXPECT_NE(log.find("1 file(s) still missing or wrong"), std::string::npos) << fault;
    // The status line ends on the failure, not on "downloading".
    const std::vector<std::string> statuses = run.sink.Statuses();
    ASSERT_FALSE(statuses.empty()) << fault;
    EXPECT_EQ(statuses.back(), Cp936("下载文件 a.bin 失败，请稍后再试")) << fault;
    ExpectTotalsNeverGoBack(run, fault);
  }
}

TEST(UpdateRunFaults, AnEndlessPartialAnswerStopsAtItsRangeAndTheFileIsRight) {
  TTempFolder folder;
  TRun run;
  RunUpdate(run, folder.Path(), FaultRunUrl("endless206"), 0, 120000, ImpatientEnvironment(folder.Path()));
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.stillWrong, 0);
  EXPECT_EQ(GetFileSize(folder / "a.bin"), 1200000);
  EXPECT_LT(run.elapsedMs, 15000u);
}

TEST(UpdateRunFaults, ACancelAfterAManifestThatDoesNotInflateTouchesNoFreedRequest) {
  TTempFolder folder;
  TRun run;
  TUpdateThread thread(run.sink, 0, StateFileName(0), ClientManifestName,
                       HttpUrl(1) + "corrupt", Environment(folder.Path()));
  // The inflate error ends the run; the cancel that follows (the window
  // closing) must not reach the request that went with it.
  ASSERT_TRUE(run.sink.Done.WaitFor(30000));
  thread.Terminate();
  thread.WaitFor();
  EXPECT_EQ(run.sink.Messages(UM_UPDATE_DONE).front().wParam, 0u);
}

TEST(UpdateRunFaults, TheManifestStatusLineKeepsItsWordsAndTheReasonGoesToTheLog) {
  TTempFolder folder;
  TRun run;
  RunUpdate(run, folder.Path(), HttpUrl(1) + "ftp");
  ASSERT_TRUE(run.posted);
  bool seen = false;
  for (const std::string& status : run.sink.Statuses()) {
    if (status.rfind(Cp936("#100 : 下载配置文件失败，请检查网络。 "), 0) != 0) continue;
    seen = true;
    // The Part's words, then the server's header lines, nothing of our own.
    EXPECT_EQ(status.find("Redirect to a URL"), std::string::npos) << status;
    EXPECT_NE(status.find("Location: ftp://127.0.0.1/elsewhere"), std::string::npos) << status;
  }
  EXPECT_TRUE(seen);
  EXPECT_NE(ReadWholeFile(folder / "UpdateLog.txt").find("Redirect to a URL that is not http"), std::string::npos);
}

TEST(UpdateRunFaults, AWrongManifestDigestNeverReplacesTheFile) {
  const TFiles files = {{"data/x.pak", Bytes(200000, 41)}};
  const std::string base = Publish("wrongdigest", files);
  // The manifest promises another digest than the file the server holds.
  const std::string manifestPath = UpdateRoot() + "/wrongdigest/update.json";
  std::string manifest = ReadWholeFile(manifestPath);
  const std::string real = MD5OfMemory(files.at("data/x.pak"));
  manifest.replace(manifest.find(real), real.size(), std::string(32, 'a'));
  WriteWholeFile(manifestPath, manifest);
  TTempFolder folder;
  ForceDirectories(folder / "data");
  WriteWholeFile(folder / "data/x.pak", "the old file");
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.result, 1u);
  EXPECT_EQ(run.stillWrong, 1);
  EXPECT_EQ(ReadWholeFile(folder / "data/x.pak"), "the old file");
  EXPECT_FALSE(FileExists(folder / "data/x.pak.!tmp"));
  EXPECT_FALSE(FileExists(folder / "data/x.pak.!dl"));
}

TEST(UpdateRunFaults, AFullPackagePast4GiBKeepsItsBarInProportion) {
  // A release document whose package is larger than 32 bits can say: the
  // package itself is missing, so the run falls back to the files.
  const TFiles files = {{"Client.bin", Bytes(5000, 51)}};
  const std::string base = Publish("bigpackage", files);
  const std::string root = UpdateRoot();
  ForceDirectories(root + "/bigpackage/complete");
  WriteWholeFile(root + "/bigpackage/complete/release.json",
                 R"({"File":"full.zip","isLauncher":0,"MD5":"00","Size":5000000000})");
  TTempFolder folder;
  WriteUpdateNow(folder.Path(), 2);
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  bool seen = false;
  for (const auto& m : run.sink.Messages(UM_TOTAL_PROGRESS)) {
    if (m.wParam != 0 || static_cast<uint32_t>(m.lParam) == 0) continue;
    // 5e9 does not fit 31 bits: halved twice it is 1,250,000,000.
    if (static_cast<uint32_t>(m.lParam) == 1250000000u) seen = true;
    EXPECT_LE(static_cast<int64_t>(m.lParam), INT32_MAX);
  }
  EXPECT_TRUE(seen);
  ExpectInstalled(folder.Path(), files);
}

// --- many small files over kept-alive connections -------------------------

namespace {

std::string FaultBatchUrl(const std::string& fault) {
  return HttpUrl(1) + "batch/" + fault;
}

constexpr int FaultBatchFiles = 8;

std::string BatchFileName(int index) { return Format("f%02d.bin", index); }

TFiles SmallFiles(int count, size_t size) {
  TFiles files;
  for (int i = 0; i < count; ++i) files[Format("data/s%03d.bin", i)] = Bytes(size, 100 + static_cast<unsigned>(i));
  return files;
}

// The "正在下载 NAME k/n" lines, in the order the window got them.
std::vector<std::string> DownloadLines(TRunSink& sink) {
  std::vector<std::string> lines;
  for (const std::string& s : sink.Statuses())
    if (s.rfind(Cp936("正在下载 "), 0) == 0) lines.push_back(s);
  return lines;
}

// No file is left half-written beside its target.
void ExpectNoTemporaries(const std::string& folder, int count) {
  for (int i = 0; i < count; ++i) EXPECT_FALSE(FileExists(folder + BatchFileName(i) + ".!tmp")) << i;
}

}  // namespace

// Small files travel over few connections when the server keeps them, the
// requests for later files going out ahead of the earlier answers, and over
// one connection each when it does not; either way every file is right.
TEST(UpdateBatch, KeptConnectionsServeManyFilesAndClosedOnesStillWork) {
  const TFiles files = SmallFiles(40, 16384);
  const std::string base = Publish("batchplain", files);
  for (const bool keepAlive : {true, false}) {
    TTempFolder folder;
    const std::string url = keepAlive ? base : ServerUrl() + "nokeep/batchplain/";
    const size_t offset = LogSize(ConnectionLogPath());
    THttpBatch batch;
    FetchAll(batch, files, url, folder.Path());
    ExpectInstalled(folder.Path(), files);
    const std::string prefix = "GET /" + std::string(keepAlive ? "" : "nokeep/") + "batchplain/";
    const TServed served = ServedSince(offset, prefix);
    EXPECT_EQ(served.requests, 40) << keepAlive;
    if (keepAlive) {
      EXPECT_LE(batch.ConnectionsOpened(), BatchConnections);
      EXPECT_GT(batch.RequestsSentAhead(), 0);
      EXPECT_GT(served.pipelined, 0);  // nginx found them waiting behind an answer
    } else {
      EXPECT_GE(batch.ConnectionsOpened(), 40);
      EXPECT_EQ(batch.RequestsSentAhead(), 0);
    }
  }
}

TEST(UpdateBatch, ARunOfSmallFilesKeepsItsLinesAndProgress) {
  TFiles files = SmallFiles(30, 16384);
  files["data/large.pak"] = Bytes(600000, 7);
  TFiles release = files;
  release["data/empty.txt"] = "";
  const std::string base = Publish("batchrun", release);
  TTempFolder folder;
  TRun run;
  RunUpdate(run, folder.Path(), base);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.stillWrong, 0);
  ExpectInstalled(folder.Path(), files);
  EXPECT_EQ(GetFileSize(folder / "data/empty.txt"), 0);
  const std::vector<std::string> lines = DownloadLines(run.sink);
  ASSERT_EQ(lines.size(), release.size());
  for (size_t k = 0; k < lines.size(); ++k) {
    const std::string suffix = Format(" %d/%d", static_cast<int>(k + 1), static_cast<int>(lines.size()));
    EXPECT_EQ(lines[k].substr(lines[k].size() - suffix.size()), suffix) << lines[k];
  }
  ExpectTotalsNeverGoBack(run, "batchrun");

  TRun again;
  RunUpdate(again, folder.Path(), base);
  EXPECT_EQ(again.stillWrong, 0);
  EXPECT_TRUE(DownloadLines(again.sink).empty());
}

// A server that closes after each answer, drops a kept connection between
// two files without a word, or loses requests sent ahead of an answer: the
// run reconnects and goes on.
TEST(UpdateBatch, ClosedAndDroppedConnectionsAreReplaced) {
  for (const char* fault : {"keep", "close", "drop", "nopipe"}) {
    TTempFolder folder;
    TRun run;
    RunUpdate(run, folder.Path(), FaultBatchUrl(fault), 0, 60000);
    ASSERT_TRUE(run.posted) << fault;
    EXPECT_EQ(run.stillWrong, 0) << fault;
    // Every file in the first pass: a lost connection is not a lost file.
    EXPECT_EQ(DownloadLines(run.sink).size(), static_cast<size_t>(FaultBatchFiles)) << fault;
    for (int i = 0; i < FaultBatchFiles; ++i) EXPECT_EQ(GetFileSize(folder / BatchFileName(i)), 16384) << fault << i;
    ExpectNoTemporaries(folder.Path(), FaultBatchFiles);
  }
}

// A 404 and a short file in the middle of a batch fail with their own
// lines; the files around them complete, and the two old files stay.
TEST(UpdateBatch, ABadFileInTheMiddleFailsAloneAndReplacesNothing) {
  TTempFolder folder;
  WriteWholeFile(folder / "f03.bin", "old three");
  WriteWholeFile(folder / "f05.bin", "old five");
  TRun run;
  RunUpdate(run, folder.Path(), FaultBatchUrl("mixed"), 0, 60000);
  ASSERT_TRUE(run.posted);
  EXPECT_EQ(run.stillWrong, 2);
  EXPECT_EQ(ReadWholeFile(folder / "f03.bin"), "old three");
  EXPECT_EQ(ReadWholeFile(folder / "f05.bin"), "old five");
  for (int i : {0, 1, 2, 4, 6, 7}) EXPECT_EQ(GetFileSize(folder / BatchFileName(i)), 16384) << i;
  ExpectNoTemporaries(folder.Path(), FaultBatchFiles);
  const std::string log = ReadWholeFile(folder / "UpdateLog.txt");
  EXPECT_NE(log.find(" 404 Not Found /batch/mixed/f03.bin"), std::string::npos);
  EXPECT_NE(log.find("(/batch/mixed/f05.bin) Length Error: 16284 <> 16384"), std::string::npos);
  ExpectTotalsNeverGoBack(run, "mixed");
}

// A cancel while files are in flight ends the run at once; whatever was
// placed is complete and right, and nothing half-written stays behind.
TEST(UpdateBatch, ACancelInTheMiddleOfABatchStopsAtOnce) {
  TTempFolder folder;
  TRunSink sink;
  uint32_t stopMs = 0;
  {
    TUpdateThread thread(sink, 0, StateFileName(0), ClientManifestName, FaultBatchUrl("slow"),
                         Environment(folder.Path()));
    ASSERT_TRUE(sink.Progress.WaitFor(30000));
    const uint32_t start = GetTickCount32();
    thread.TerminateAndWait();
    stopMs = GetTickCount32() - start;
  }
  EXPECT_LT(stopMs, 1000u);
  EXPECT_TRUE(sink.Messages(UM_UPDATE_DONE).empty());
  int placed = 0;
  for (int i = 0; i < FaultBatchFiles; ++i) {
    if (!FileExists(folder / BatchFileName(i))) continue;
    ++placed;
    EXPECT_EQ(GetFileSize(folder / BatchFileName(i)), 16384) << i;
  }
  EXPECT_GE(placed, 1);
  EXPECT_LT(placed, FaultBatchFiles);
  ExpectNoTemporaries(folder.Path(), FaultBatchFiles);
}

// A redirect is handed back to the engine, which follows it; after an abort
// nothing more is fetched.
TEST(UpdateBatch, RedirectsGoBackToTheEngineAndAnAbortEndsTheBatch) {
  TTempFolder folder;
  THttpBatch batch(2);
  TBatchJob job;
  job.Url = HttpUrl(1) + "redirect-loop";
  job.TargetPath = folder / "moved.bin";
  job.ExpectedSize = 10;
  const TBatchResult moved = batch.Wait(batch.Add(job), 10000);
  EXPECT_EQ(moved.Outcome, TBatchOutcome::UseEngine);
  EXPECT_NE(moved.ErrorText.find("302"), std::string::npos) << moved.ErrorText;
  batch.Abort();
  job.Url = FaultBatchUrl("keep") + "/f00.bin";
  job.TargetPath = folder / "f00.bin";
  job.ExpectedSize = 16384;
  EXPECT_EQ(batch.Wait(batch.Add(job), 1000).Outcome, TBatchOutcome::Stopped);
  EXPECT_FALSE(FileExists(folder / "f00.bin"));
  EXPECT_FALSE(FileExists(folder / "moved.bin"));
}

// --- ranges over kept connections ------------------------------------------

// An 8 MiB file in more ranges than five workers: where the server keeps
// connections each worker sends its next range on its own one; where it
// does not, every range gets a new connection. The file is right either way.
// A worker whose range was cut for an idle one ("N# -> M#" in the debug
// output) drops its connection, so each cut may cost one more.
TEST(DownloadConnections, WorkersKeepTheirConnectionsFromRangeToRange) {
  const std::string content = Bytes(8 * 1024 * 1024, 51);
  Publish("keptranges", {{"big.bin", content}});
  for (const bool keepAlive : {true, false}) {
    const std::string path = std::string(keepAlive ? "" : "/nokeep") + "/keptranges/big.bin";
    const size_t offset = LogSize(ConnectionLogPath());
    TTempFolder folder;
    TLogCapture capture;
    {
      THttpDownload download(5);
      download.SetExpectedDigest(MD5OfMemory(content));
      const TDownloadOutcome outcome = RunDownload(download, ServerUrl() + path.substr(1),
                                                   folder.Path(), static_cast<int64_t>(content.size()),
                                                   [] { return true; });
      EXPECT_EQ(outcome, TDownloadOutcome::Done) << keepAlive;
    }
    EXPECT_EQ(MD5OfFile(folder / "big.bin"), MD5OfMemory(content)) << keepAlive;
    const TServed served = ServedSince(offset, "GET " + path + " HTTP/1.1 ");
    EXPECT_GE(served.requests, 12) << keepAlive;  // the probe and the ranges
    if (keepAlive) {
      const int cuts = capture.CountContaining("# -> ");
      EXPECT_LE(served.connections, 6 + cuts) << cuts << " cut(s)";
      EXPECT_LT(served.connections, served.requests);
    } else {
      EXPECT_EQ(served.connections, served.requests);
    }
  }
}
