#include "update/run/uLaunchThread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include <string>
#include <vector>

#include "common/Md5.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "support/TestSupport.h"

namespace {

// 2011-06-15 12:00:00 and the same day one minute later, as DOS times.
constexpr uint32_t June15 = 1053777920;
constexpr uint32_t June15Later = June15 + (1 << 5);

std::string Md5(const std::string& text) { return MD5OfMemory(text); }

// A launcher folder with files, a manifest copy and the run's file view.
class TUpdateFolder {
public:
  TUpdateFolder() : files(folder.Path(), "launcher", StateFileName(0), ClientManifestName) {
    ForceDirectories(folder / "data");
    files.OnStatus = [this](const std::string& text) { statuses.push_back(text); };
    files.OnTotalProgress = [this](uint32_t p, uint32_t m) { progress.emplace_back(p, m); };
    files.OnLog = [this](const std::string& text) { logs.push_back(text); };
  }
  void Put(const std::string& name, const std::string& bytes, uint32_t time = June15) {
    ForceDirectories(folder / name.substr(0, name.find_last_of("\\/") + 1));
    WriteWholeFile(folder / name, bytes);
    SetFileDosDateTime(folder / name, time);
  }
  void Manifest(const std::string& json) {
    WriteWholeFile(folder / "data/update.json", json);
    ASSERT_TRUE(files.LoadManifest());
  }
  std::string StateText() { return ReadWholeFile(folder / "data/update0.local"); }
  std::vector<std::string> Files(const TDownloadList& list) {
    std::vector<std::string> names;
    for (const TDownloadItem& item : list) names.push_back(item.File);
    return names;
  }

  TTempFolder folder;
  TUpdateFiles files;
  std::vector<std::string> statuses;
  std::vector<std::pair<uint32_t, uint32_t>> progress;
  std::vector<std::string> logs;
};

std::string Entry(const std::string& file, const std::string& hash, int size, bool need = true, bool zip = false,
                  int launcher = 0) {
  return "{\"File\":\"" + file + "\",\"isLauncher\":" + std::to_string(launcher) + ",\"Need\":" +
         (need ? "true" : "false") + ",\"Hash\":\"" + hash + "\",\"Size\":" + std::to_string(size) +
         ",\"IsZip\":" + (zip ? "true" : "false") + "}";
}

}  // namespace

TEST(ManifestJson, ReadsTypedKeysWithDefaultsRoundingAndBom) {
  TJsonValue document;
  ASSERT_TRUE(ParseUpdateJson("\xEF\xBB\xBF[{\"File\":\"data\\\\a.dat\",\"Size\":10.5,\"isLauncher\":0.4,"
                              "\"Need\":true,\"Hash\":\"ab\"}]",
                              document));
  const TManifestEntry entry = ReadManifestEntry(document[0]);
  EXPECT_EQ(entry.File, "data\\a.dat");
  EXPECT_EQ(entry.Size, 11);
  EXPECT_EQ(entry.isLauncher, 0);
  EXPECT_TRUE(entry.Need);
  EXPECT_FALSE(entry.IsZip);  // missing
  EXPECT_EQ(entry.Hash, "ab");
  // Names are UTF-8 in the document and code page 936 inside.
  ASSERT_TRUE(ParseUpdateJson("{\"File\":\"\xE5\x9C\xB0\xE5\x9B\xBE.dat\"}", document));
  EXPECT_EQ(ReadManifestEntry(document).File, Utf8ToCp936("\xE5\x9C\xB0\xE5\x9B\xBE.dat"));
  EXPECT_FALSE(ParseUpdateJson("[{\"File\":", document));
  EXPECT_TRUE(document.is_null());
}

TEST(ManifestJson, AWrongTypeIsAnErrorThatEndsTheRun) {
  for (const char* text : {R"({"File":5})", R"({"Need":"true"})", R"({"Size":"100"})", R"({"IsZip":1})",
                           R"({"Hash":null})", R"({"isLauncher":true})", R"({"Size":3000000000})", R"(["x"])"}) {
    TJsonValue document;
    ASSERT_TRUE(ParseUpdateJson(text, document)) << text;
    EXPECT_THROW(ReadManifestEntry(document.is_array() ? document[0] : document), EUpdateJsonError) << text;
  }
}

TEST(ManifestJson, FetchedManifestAcceptance) {
  auto accepted = [](const char* text) {
    TJsonValue document;
    ParseUpdateJson(text, document);
    return IsAcceptedManifest(document);
  };
  EXPECT_TRUE(accepted(R"([{"File":"a.dat"},{"File":""}])"));
  EXPECT_FALSE(accepted(R"([])"));
  EXPECT_FALSE(accepted(R"({"File":"a.dat"})"));
  EXPECT_FALSE(accepted(R"([{"File":""}])"));
  EXPECT_FALSE(accepted(R"([{"Hash":"x"}])"));
  EXPECT_FALSE(accepted("not json"));
  EXPECT_THROW(accepted(R"([["a.dat"]])"), EUpdateJsonError);
}

TEST(ManifestJson, ReleaseDocument) {
  TReleaseDocument release;
  ASSERT_TRUE(ReadReleaseDocument(R"({"File":"full.zip","isLauncher":0,"MD5":"ABCDEF","Size":5000000000})", release));
  EXPECT_EQ(release.File, "full.zip");
  EXPECT_EQ(release.Size, 5000000000);  // a full package may pass 4 GiB
  EXPECT_TRUE(SameDigestIgnoringCase(release.MD5, "abcdef"));
  EXPECT_FALSE(SameDigestIgnoringCase(release.MD5, "abcde0"));
  EXPECT_FALSE(ReadReleaseDocument("<html>", release));
  EXPECT_THROW(ReadReleaseDocument(R"([{"File":"full.zip"}])", release), EUpdateJsonError);
  EXPECT_THROW(ReadReleaseDocument(R"({"File":"full.zip","Size":"1"})", release), EUpdateJsonError);
  TLogCapture log;
  EXPECT_FALSE(ReadReleaseDocument(R"({"File":"..\\..\\Windows\\full.zip"})", release));
  EXPECT_FALSE(log.Lines().empty());
}

TEST(ManifestJson, PathsThatWouldLeaveTheLauncherFolder) {
  for (const char* good : {"a.dat", "data\\map\\a.dat", "data/map/a.dat", "a..b.dat", ".\\a.dat", "..a"})
    EXPECT_TRUE(IsSafeRelativePath(good)) << good;
  for (const char* bad : {"", "..", "..\\a.dat", "data/../../a.dat", "\\a.dat", "/etc/passwd", "C:\\a.dat",
                          "C:a.dat", "a.dat:stream", "data\\...\\a.dat", "data\\.. \\a.dat", "com1.bin",
                          "lpt1.pak", "aux.txt", "nul", "data\\con.dat", "Data\\PRN\\a.dat", "a.dat.", "a.dat "})
    EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
  // The second byte of a double-byte character may be "\" but is no separator.
  EXPECT_TRUE(IsSafeRelativePath("\x95\x5C..txt"));
}

TEST(LocalState, ParsesLinesAndSkipsMalformedOnes) {
  std::vector<std::string> seen;
  ParseStateText("data\\map\\a.dat=0cc175b9c0f1b6a831c399e269772661-1053777920\r\n"
                 "no equals sign\r\n"
                 "dash-first=-5\r\n"
                 "nodash=abc\n"
                 "b.dat=d-notanumber\r"
                 "c.dat=x=y-123456789012345678901234\r\n"
                 "d.dat=e--7",
                 [&](const std::string& name, const std::string& digest, int32_t time) {
                   seen.push_back(name + "|" + digest + "|" + std::to_string(time));
                 });
  EXPECT_EQ(seen, (std::vector<std::string>{"data\\map\\a.dat|0cc175b9c0f1b6a831c399e269772661|1053777920",
                                            "b.dat|d|0", "c.dat|x=y|0", "d.dat|e|-7"}));
  TStateEntry entry{"data\\map\\a.dat", 0, "0cc175b9c0f1b6a831c399e269772661", -5};
  EXPECT_EQ(FormatStateLine(entry), "data\\map\\a.dat=0cc175b9c0f1b6a831c399e269772661--5");
}

TEST(LocalState, LoadDigestsAgainOnlyFilesWhoseTimeChanged) {
  TUpdateFolder u;
  u.Put("same.dat", "new content", June15);
  u.Put("moved.dat", "moved content", June15Later);
  WriteWholeFile(u.folder / "data/update0.local",
                 "same.dat=recorded-" + std::to_string(June15) + "\r\nmoved.dat=recorded-" + std::to_string(June15) +
                     "\r\ngone.dat=recorded-1\r\nsame.dat=other-1\r\n");
  u.files.LoadState();
  // Same time (within one 2-second slot): the recorded digest is trusted.
  EXPECT_EQ(u.files.StateTable().Find("same.dat")->digest, "recorded");
  EXPECT_EQ(u.files.StateTable().Find("moved.dat")->digest, Md5("moved content"));
  EXPECT_EQ(u.files.StateTable().Find("moved.dat")->time, static_cast<int32_t>(June15Later));
  EXPECT_NE(u.files.StateTable().Find("gone.dat"), nullptr);
  EXPECT_EQ(u.files.StateTable().Count(), 3u);
  EXPECT_TRUE(u.files.StateChanged());
}

TEST(LocalState, SaveWritesInsertionOrderAndNeverAnEmptyTable) {
  TUpdateFolder u;
  WriteWholeFile(u.folder / "data/update0.local", "kept=as-1\r\n");
  u.files.SaveState();
  EXPECT_EQ(u.StateText(), "kept=as-1\r\n");
  DeleteFileAt(u.folder / "data/update0.local");
  DeleteFileAt(u.folder / "data/update.json");
  std::filesystem::remove(std::filesystem::path(u.folder / "data"));
  ASSERT_FALSE(DirectoryExists(u.folder / "data"));
  u.files.StateTable().Add("z.dat", std::make_unique<TStateEntry>(TStateEntry{"z.dat", 0, "d1", 1}));
  u.files.StateTable().Add("a.dat", std::make_unique<TStateEntry>(TStateEntry{"a.dat", 0, "d2", -2}));
  u.files.SaveState();  // makes the data folder again
  EXPECT_EQ(u.StateText(), "z.dat=d1-1\r\na.dat=d2--2\r\n");
  // Round trip through a fresh table.
  TUpdateFiles again(u.folder.Path(), "launcher", StateFileName(0), ClientManifestName);
  again.LoadState();
  EXPECT_EQ(again.StateTable().Count(), 2u);
  EXPECT_EQ(again.StateTable().First()->name, "z.dat");
}

TEST(CompareFiles, ValidMissingChangedAndIgnoredEntries) {
  TUpdateFolder u;
  u.Put("data\\ok.dat", "ok");
  u.Put("data\\changed.dat", "changed locally");
  u.Put("upper.dat", "upper");
  u.Manifest("[" + Entry("data\\\\ok.dat", Md5("ok"), 100) + "," +
             Entry("data\\\\changed.dat", Md5("server version"), 200) + "," +
             Entry("data\\\\missing.dat", Md5("missing"), 300, true, true) + "," +
             Entry("upper.dat", "5A105E8B9D40E1329780D62EA2265D8A", 400) + "," +
             Entry("ignored.dat", Md5("ignored"), 5000, false) + "]");
  TDownloadList list;
  EXPECT_EQ(u.files.CompareFiles(list), CompareFilesToFetch);
  // Upper-case hashes never match: such a file is fetched on every run.
  EXPECT_EQ(u.Files(list), (std::vector<std::string>{"data\\changed.dat", "data\\missing.dat", "upper.dat"}));
  EXPECT_TRUE(list[1].IsZip);
  EXPECT_EQ(list[1].Size, 300);
  EXPECT_EQ(u.files.BytesDone(), 100);
  EXPECT_EQ(u.files.BytesTotal(), 1000);
  EXPECT_EQ(u.files.BytesToDownload(), 900);
  EXPECT_TRUE(u.files.StateChanged());
  ASSERT_NE(u.files.StateTable().Find("data\\OK.dat"), nullptr);
  EXPECT_EQ(u.files.StateTable().Count(), 1u);
  // Status at manifest index 0 only (index 10 does not exist), then the totals.
  EXPECT_EQ(u.statuses, std::vector<std::string>{Utf8ToCp936("校验文件：") + "data\\ok.dat"});
  EXPECT_EQ(u.progress.front(), std::make_pair(1u, 5u));
  EXPECT_EQ(u.progress.back(), std::make_pair(100u, 1000u));
}

TEST(CompareFiles, ResultCodesByShareOfValidBytes) {
  TUpdateFolder u;
  u.Put("a.dat", "a");
  u.Manifest("[" + Entry("a.dat", Md5("a"), 10) + "," + Entry("b.dat", Md5("b"), 91) + "]");
  TDownloadList list;
  EXPECT_EQ(u.files.CompareFiles(list), CompareMostlyMissing);  // 10 x 10 < 101
  u.Manifest("[" + Entry("a.dat", Md5("a"), 10) + "," + Entry("b.dat", Md5("b"), 90) + "]");
  list.clear();
  EXPECT_EQ(u.files.CompareFiles(list), CompareFilesToFetch);  // 10 x 10 = 100
  u.Manifest("[" + Entry("a.dat", Md5("a"), 10) + "]");
  list.clear();
  EXPECT_EQ(u.files.CompareFiles(list), CompareNothingToDo);
  EXPECT_TRUE(list.empty());
  // Sizes of 0: nothing counts, yet the missing file is still listed.
  u.Manifest("[" + Entry("b.dat", Md5("b"), 0) + "," + Entry("c.dat", Md5("c"), 0) + "]");
  list.clear();
  EXPECT_EQ(u.files.CompareFiles(list), CompareNothingToDo);
  EXPECT_EQ(list.size(), 2u);
}

TEST(CompareFiles, MissingFileSetsTheFlagEvenWithoutAnEntry) {
  TUpdateFolder u;
  u.Manifest("[" + Entry("nothing.dat", Md5("x"), 1) + "]");
  u.files.LoadState();
  EXPECT_FALSE(u.files.StateChanged());
  TDownloadList list;
  u.files.CompareFiles(list);
  EXPECT_TRUE(u.files.StateChanged());
}

TEST(CompareFiles, RecordedDigestIsTrustedAndMismatchRemovesIt) {
  TUpdateFolder u;
  u.Put("a.dat", "real a");
  u.Put("b.dat", "real b");
  WriteWholeFile(u.folder / "data/update0.local", "a.dat=" + Md5("manifest a") + "-" + std::to_string(June15) +
                                                       "\r\nb.dat=stale-" + std::to_string(June15) + "\r\n");
  u.Manifest("[" + Entry("a.dat", Md5("manifest a"), 1) + "," + Entry("b.dat", Md5("real b"), 1) + "]");
  u.files.LoadState();
  TDownloadList list;
  u.files.CompareFiles(list);
  EXPECT_EQ(u.Files(list), std::vector<std::string>{"b.dat"});
  EXPECT_NE(u.files.StateTable().Find("a.dat"), nullptr);
  EXPECT_EQ(u.files.StateTable().Find("b.dat"), nullptr);
}

TEST(CompareFiles, LauncherEntryIsComparedUnderItsUpdateName) {
  TUpdateFolder u;
  u.Put("launcher.exe", "running");
  u.Put("launcher.update", "new launcher");
  u.Manifest("[" + Entry("launcher.exe", Md5("new launcher"), 50, true, false, 1) + "]");
  TDownloadList list;
  EXPECT_EQ(u.files.CompareFiles(list), CompareNothingToDo);
  const TStateEntry* entry = u.files.StateTable().Find("launcher.update");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->isLauncher, 1);
  u.files.SaveState();
  // The line shows File while the key is the ".update" name.
  EXPECT_EQ(u.StateText().substr(0, 13), "launcher.exe=");
}

TEST(CompareFiles, UnsafeNamesAreRejectedAndNeverListed) {
  TUpdateFolder u;
  u.Manifest("[" + Entry("..\\\\..\\\\evil.dll", Md5("x"), 10) + "," + Entry("C:\\\\evil.dll", Md5("x"), 10) + "," +
             Entry("good.dat", Md5("g"), 10) + "]");
  TDownloadList list;
  u.files.CompareFiles(list);
  EXPECT_EQ(u.Files(list), std::vector<std::string>{"good.dat"});
  EXPECT_EQ(u.files.BytesTotal(), 10);
  EXPECT_EQ(u.logs.size(), 2u);
}

// One file, one entry: the first needed entry for a file (as Windows
// compares paths) keeps it; a later one is refused, named with the first,
// and never touches the file or its record. Refused entries are listed.
TEST(CompareFiles, ASecondEntryForTheSameFileIsRefusedAndNeverFlipsTheFirst) {
  TUpdateFolder u;
  u.Put("Data/A.bin", "first");
  u.Manifest("[" + Entry("Data\\\\A.bin", Md5("first"), 5) + "," + Entry("data/a.bin", Md5("second"), 6) + "," +
             Entry("DATA\\\\\\\\.\\\\A.BIN", Md5("third"), 5) + "," + Entry("data\\\\a.bin", Md5("x"), 5, false) +
             "," + Entry("com1.bin", Md5("c"), 7) + "," + Entry("b.dat", Md5("b"), 3) + "]");
  for (int run = 0; run < 2; ++run) {
    u.logs.clear();
    TDownloadList list;
    u.files.CompareFiles(list);
    EXPECT_EQ(u.Files(list), std::vector<std::string>{"b.dat"}) << run;
    EXPECT_EQ(u.files.Refused(), (std::vector<std::string>{"data/a.bin", "DATA\\\\.\\A.BIN", "com1.bin"})) << run;
    EXPECT_EQ(u.files.BytesTotal(), 8) << run;
    EXPECT_EQ(u.files.BytesDone(), 5) << run;
    ASSERT_EQ(u.logs.size(), 3u) << run;
    EXPECT_EQ(u.logs[0], "entry refused: \"data/a.bin\" names the same file as the earlier entry \"Data\\A.bin\"");
    ASSERT_NE(u.files.StateTable().Find("Data\\A.bin"), nullptr);
    EXPECT_EQ(u.files.StateTable().Find("Data\\A.bin")->digest, Md5("first")) << run;
  }
  EXPECT_EQ(ReadWholeFile(u.folder / "Data/A.bin"), "first");
}

TEST(CompareFiles, WrongTypeMidwayThrowsAfterEarlierEntriesWereApplied) {
  TUpdateFolder u;
  u.Put("a.dat", "a");
  u.Manifest("[" + Entry("a.dat", Md5("a"), 1) + ",{\"File\":\"b.dat\",\"Need\":true,\"Size\":\"big\"}]");
  TDownloadList list;
  EXPECT_THROW(u.files.CompareFiles(list), EUpdateJsonError);
  EXPECT_NE(u.files.StateTable().Find("a.dat"), nullptr);
  EXPECT_TRUE(u.files.StateChanged());
}

TEST(CompareFiles, CancelledCompareReturnsNothingToDo) {
  TUpdateFolder u;
  u.Manifest("[" + Entry("a.dat", Md5("a"), 10) + "]");
  u.files.IsCancelled = [] { return true; };
  TDownloadList list;
  EXPECT_EQ(u.files.CompareFiles(list), CompareNothingToDo);
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(u.progress.empty());
}

TEST(CompareFiles, DigestThreadsGiveTheSameResultsAsOne) {
  TUpdateFolder u;
  std::string manifest = "[";
  for (int i = 0; i < 700; ++i) {
    const std::string name = std::string("f").append(std::to_string(i)).append(".dat");
    const std::string content(static_cast<size_t>(i * 37 % 5000), static_cast<char>('a' + i % 26));
    if (i % 5 != 0) u.Put(name, content);
    // Every third one differs from the manifest; duplicates of one name too.
    manifest.append(i ? "," : "").append(Entry(i % 100 == 1 ? "f0.dat" : name, Md5(i % 3 ? content : "other"), i));
  }
  u.Manifest(manifest + "]");
  auto run = [&](unsigned threads) {
    TUpdateFiles files(u.folder.Path(), "launcher", StateFileName(0), ClientManifestName);
    files.LoadManifest();
    files.SetDigestThreads(threads);
    std::vector<std::string> statuses;
    files.OnStatus = [&](const std::string& text) { statuses.push_back(text); };
    TDownloadList list;
    const int result = files.CompareFiles(list);
    std::string state;
    for (TStateEntry* e = files.StateTable().First(); !files.StateTable().AtEnd(); e = files.StateTable().Next())
      state += FormatStateLine(*e) + ";";
    return std::make_tuple(result, u.Files(list), state, statuses, files.BytesDone());
  };
  const auto one = run(1);
  EXPECT_EQ(std::get<0>(one), CompareFilesToFetch);
  EXPECT_GT(std::get<1>(one).size(), 300u);
  EXPECT_EQ(run(2), one);
  EXPECT_EQ(run(4), one);
}

TEST(VerifyFile, RecordsTheDigestTakenAndReportsTheMatch) {
  TUpdateFolder u;
  EXPECT_FALSE(u.files.VerifyFile("missing.dat", Md5("x")));
  EXPECT_EQ(u.files.StateTable().Count(), 0u);
  EXPECT_FALSE(u.files.StateChanged());
  u.Put("data\\a.dat", "content", June15Later);
  EXPECT_TRUE(u.files.VerifyFile("data\\a.dat", Md5("content")));
  EXPECT_EQ(u.logs.back(), Md5("content") + "+++" + Md5("content"));
  const TStateEntry* entry = u.files.StateTable().Find("data\\a.dat");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->time, static_cast<int32_t>(June15Later));
  EXPECT_TRUE(u.files.StateChanged());
  // A mismatch records the digest taken, not the expected one.
  EXPECT_FALSE(u.files.VerifyFile("data\\a.dat", Md5("expected")));
  EXPECT_EQ(u.files.StateTable().Find("data\\a.dat")->digest, Md5("content"));
}

// An empty file's digest is written as 32 "0". A manifest that lists an
// empty file with the MD5 of empty input must not make it a download on
// every run; one that lists 32 "0" keeps working as before.
TEST(EmptyFile, BothSpellingsOfTheEmptyDigestAgreeForAnEmptyFileOnly) {
  TUpdateFolder u;
  u.Put("empty.dat", "");
  u.Put("full.dat", "not empty");
  EXPECT_EQ(FileDigest(u.folder / "empty.dat"), ZeroDigest);
  u.Manifest("[" + Entry("empty.dat", EmptyInputMd5, 0) + "," + Entry("full.dat", ZeroDigest, 9) + "]");
  TDownloadList list;
  u.files.CompareFiles(list);
  EXPECT_EQ(u.Files(list), std::vector<std::string>{"full.dat"});
  u.files.SaveState();
  // The next run, after the file was touched, digests it again and still agrees.
  SetFileDosDateTime(u.folder / "empty.dat", June15Later);
  TUpdateFiles next(u.folder.Path(), "launcher", StateFileName(0), ClientManifestName);
  ASSERT_TRUE(next.LoadManifest());
  next.LoadState();
  list.clear();
  next.CompareFiles(list);
  EXPECT_EQ(u.Files(list), std::vector<std::string>{"full.dat"});
  EXPECT_TRUE(next.VerifyFile("empty.dat", EmptyInputMd5));
  EXPECT_TRUE(next.VerifyFile("empty.dat", ZeroDigest));
  EXPECT_EQ(next.StateTable().Find("empty.dat")->digest, ZeroDigest);
  EXPECT_FALSE(next.VerifyFile("full.dat", ZeroDigest));
}

TEST(LoadManifest, MissingUnparsableEmptyOrNotAnArrayFails) {
  TUpdateFolder u;
  EXPECT_FALSE(u.files.LoadManifest());
  for (const char* text : {"", "[", "[]", "{\"File\":\"a\"}"}) {
    WriteWholeFile(u.folder / "data/update.json", text);
    EXPECT_FALSE(u.files.LoadManifest()) << text;
  }
  EXPECT_TRUE(u.logs.empty());  // a document that does not parse is not logged
  WriteWholeFile(u.folder / "data/update.json", "\xEF\xBB\xBF[{\"File\":\"\"}]");
  EXPECT_TRUE(u.files.LoadManifest());
}
