// Extraction of real archives made by Info-ZIP zip, Python's zipfile and 7z
// (tests/data/zip/make-archives.sh, run by the zipdata peer before the suite).
#include "update/archive/ArchiveExtraction.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/Md5.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "signing/Crypto.h"
#include "support/TestSupport.h"
#include "update/archive/ZipDirectory.h"
#include "update/archive/ZipExtract.h"
#include "update/archive/ZipWriter.h"

namespace {

// The peer writes into <build>/peers/zipdata; the suite knows <build>/tools.
std::string Archives() {
  const char* tools = std::getenv("LAUNCHER_TEST_TOOLS");
  if (!tools) return std::string();
  std::string build = tools;
  build = build.substr(0, build.find_last_of("/\\"));
  return build + "/peers/zipdata/archives/";
}

class ArchiveTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(Archives() + ".done")) << "no test archives in \"" << Archives()
                                                  << "\": run the suite through ctest (zipdata peer)";
  }
  static std::string Archive(const std::string& name) { return Archives() + name; }
  static std::string Source(const std::string& name) { return ReadWholeFile(Archives() + "src/" + name); }
  // The archive copied into the temporary folder (ExtractPackage deletes it).
  std::string CopyHere(const std::string& name, const std::string& folder = "") {
    ForceDirectories(temp / folder);
    const std::string path = temp / (folder + name);
    EXPECT_TRUE(CopyFileAt(Archive(name), path));
    return path;
  }
  // Regular files below `folder`, relative, "/" separated, sorted.
  static std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> names;
    const std::filesystem::path root(Cp936ToUtf16(folder));
    for (const auto& item : std::filesystem::recursive_directory_iterator(root))
      if (item.is_regular_file())
        names.push_back(Utf16ToCp936(std::filesystem::relative(item.path(), root).generic_u16string()));
    std::sort(names.begin(), names.end());
    return names;
  }

  TTempFolder temp;
};

const std::string ChineseName = Utf8ToCp936("\xE5\x9C\xB0\xE5\x9B\xBE.txt");

std::vector<std::string> TreeFiles() {
  std::vector<std::string> names = {"data/map/a.dat", "data/text.txt", "data/" + ChineseName,
                                    "sub/deeper/random.bin", "sub/empty.dat"};
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_F(ArchiveTest, PackagesFromEveryToolKeepTheirFoldersOnOneOrTwoThreads) {
  for (const char* name : {"zip-stored.zip", "zip-deflate.zip", "zip-forced64.zip", "7z-deflate.zip",
                           "7z-stored.zip", "py-deflate.zip", "py-stored.zip"}) {
    for (unsigned threads : {1u, 2u}) {
      TTempFolder out;
      TZipExtractor extractor;
      extractor.Options.DestDir = out.Path();
      extractor.Options.RecreateDirs = true;
      extractor.Threads = threads;
      EXPECT_EQ(extractor.Extract(Archive(name)), 5) << name;
      ASSERT_EQ(FilesBelow(out.Path()), TreeFiles()) << name;
      for (const std::string& file : TreeFiles())
        EXPECT_EQ(MD5OfMemory(ReadWholeFile(out / file)), MD5OfMemory(Source(file))) << name << " " << file;
    }
  }
}

TEST_F(ArchiveTest, PerFileArchiveUnpacksFlatAndReplacesTheOldFile) {
  const std::string folder = temp / "data\\map\\";
  ForceDirectories(folder);
  WriteWholeFile(folder + "text.txt", "the old version");
  const std::string archive = CopyHere("zip-one-in-folder.zip", "data\\map\\");
  std::vector<std::string> started;
  std::vector<int> percents;
  TArchiveHooks hooks;
  hooks.OnStartEntry = [&](int index, const std::string& target, int count, bool&) {
    started.push_back(EntryStartStatus(target, index, count));
  };
  hooks.OnFilePercent = [&](int percent) { percents.push_back(percent); };
  hooks.OnTotalPercent = [&](int) { ADD_FAILURE() << "no total percent for a per-file archive"; };
  const TArchiveEntryCheck check{"data\\map\\text.txt", MD5OfMemory(Source("data/text.txt"))};
  const TArchiveResult result = ExtractFileArchive(archive, folder, check, hooks);
  EXPECT_EQ(result.filesExtracted, 1);
  EXPECT_EQ(result.archiveSize, GetFileSize(Archive("zip-one-in-folder.zip")));
  EXPECT_EQ(ReadWholeFile(folder + "text.txt"), Source("data/text.txt"));
  EXPECT_FALSE(DirectoryExists(folder + "data"));
  EXPECT_EQ(started, std::vector<std::string>{Utf8ToCp936("解包 text.txt 0/1")});
  ASSERT_FALSE(percents.empty());
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);
  // The update thread deletes the per-file archive; extraction leaves it.
  EXPECT_TRUE(FileExists(archive));
}

// A per-file archive yields the one file the manifest names, found by its
// file name as Windows compares names, and only with the manifest's
// digests; every other entry is left on the archive's side and logged.
TEST_F(ArchiveTest, PerFileArchiveYieldsOnlyTheNamedFileWithItsDigests) {
  const std::string text = Source("data/text.txt");
  const std::string sha = Sha256Hex(text);
  struct TRow {
    const char* what;
    TArchiveEntryCheck check;
    bool written;
    int ignored;  // entries left and logged
  };
  const TRow rows[] = {
      {"the named file", {"data\\text.txt", MD5OfMemory(text), sha}, true, 4},
      {"its name in other letter case", {"DATA\\TEXT.TXT", MD5OfMemory(text)}, true, 4},
      {"another MD5", {"text.txt", MD5OfMemory("other")}, false, 4},
      {"another SHA-256", {"text.txt", MD5OfMemory(text), Sha256Hex("other")}, false, 4},
      {"a name the archive lacks", {"data\\none.txt", MD5OfMemory(text)}, false, 5},
  };
  for (const TRow& row : rows) {
    TTempFolder out;
    WriteWholeFile(out / "text.txt", "the old version");
    TLogCapture log;
    const TArchiveResult result = ExtractFileArchive(Archive("py-deflate.zip"), out.Path(), row.check, TArchiveHooks());
    EXPECT_EQ(result.filesExtracted, row.written ? 1 : 0) << row.what;
    EXPECT_EQ(ReadWholeFile(out / "text.txt"), row.written ? text : "the old version") << row.what;
    EXPECT_EQ(FilesBelow(out.Path()), std::vector<std::string>{"text.txt"}) << row.what;
    EXPECT_EQ(result.error.empty(), row.written) << row.what << ": " << result.error;
    // The other entries, by name.
    EXPECT_EQ(log.CountContaining("archive entry ignored"), row.ignored) << row.what;
    EXPECT_EQ(log.CountContaining("sub/deeper/random.bin"), 1) << row.what;
  }
}

TEST_F(ArchiveTest, NamesThatWouldLeaveTheFolderAreRejectedAndLogged) {
  for (bool recreate : {false, true}) {
    TTempFolder outer;
    const std::string dest = outer / "game\\";
    ForceDirectories(dest);
    TLogCapture log;
    TZipExtractor extractor;
    extractor.Options.DestDir = dest;
    extractor.Options.RecreateDirs = recreate;
    EXPECT_EQ(extractor.Extract(Archive("py-slip.zip")), 2);
    EXPECT_EQ(FilesBelow(outer.Path()), (std::vector<std::string>{"game/good-1.txt", "game/good-2.txt"}));
    size_t rejected = 0;
    for (const std::string& line : log.Lines()) rejected += line.find("rejected") != std::string::npos;
    EXPECT_EQ(rejected, 6u);
  }
}

// Names that Windows opens as devices or stores under another name never
// reach the disk, on any platform; the first one is the run's reason.
TEST_F(ArchiveTest, DeviceNamesAndNamesWindowsChangesAreRejected) {
  const std::string archive = temp / "devices.zip";
  const std::vector<std::string> refused = {"com1.bin", "data/lpt1.pak", "AUX.txt", "nul", "data/con.dat",
                                            "a.txt.", "b.txt ", "maps. /c.txt"};
  {
    TZipWriter writer(archive);
    for (const std::string& name : refused) writer.AddBytes(name, "device", 0x21);
    writer.AddBytes("data/good.txt", "good", 0x21);
    writer.Finish();
  }
  TTempFolder outer;
  TLogCapture log;
  TZipExtractor extractor;
  extractor.Options.DestDir = outer.Path();
  extractor.Options.RecreateDirs = true;
  EXPECT_EQ(extractor.Extract(archive), 1);
  EXPECT_EQ(FilesBelow(outer.Path()), std::vector<std::string>{"data/good.txt"});
  EXPECT_EQ(log.CountContaining("archive entry rejected"), static_cast<int>(refused.size()));
  EXPECT_NE(extractor.FirstError.find("\"com1.bin\""), std::string::npos) << extractor.FirstError;
}

TEST_F(ArchiveTest, InflatedDataIsBoundedByTheDeclaredSize) {
  TLogCapture log;
  TZipExtractor extractor;
  extractor.Options.DestDir = temp.Path();
  EXPECT_EQ(extractor.Extract(Archive("py-bomb.zip")), 1);
  EXPECT_EQ(FilesBelow(temp.Path()), std::vector<std::string>{"ok.txt"});
  EXPECT_EQ(ReadWholeFile(temp / "ok.txt"), "fine");
  EXPECT_FALSE(log.Lines().empty());
}

TEST_F(ArchiveTest, CrcMismatchFailsTheEntryAndKeepsTheOldFile) {
  WriteWholeFile(temp / "changed.txt", "still the old file");
  TZipExtractor extractor;
  extractor.Options.DestDir = temp.Path();
  EXPECT_EQ(extractor.Extract(Archive("py-crc.zip")), 1);
  EXPECT_EQ(ReadWholeFile(temp / "changed.txt"), "still the old file");
  EXPECT_EQ(ReadWholeFile(temp / "intact.txt"), "intact");
  EXPECT_EQ(FilesBelow(temp.Path()), (std::vector<std::string>{"changed.txt", "intact.txt"}));
}

// A target that cannot be written (here its temporary name is taken by a
// folder, as a full disk would refuse it) is told apart from a damaged
// entry, on either thread, and the old file stays.
TEST_F(ArchiveTest, AnEntryThatCannotBeWrittenIsAWriteFailureNotADamagedArchive) {
  for (unsigned threads : {1u, 2u}) {
    TTempFolder folder;
    WriteWholeFile(folder / "text.txt", "the old version");
    ForceDirectories(folder / "text.txt.unz~");
    TLogCapture log;
    TZipExtractor extractor;
    extractor.Options.DestDir = folder.Path();
    extractor.Threads = threads;
    EXPECT_EQ(extractor.Extract(Archive("py-deflate.zip")), 4) << threads;
    EXPECT_TRUE(extractor.WriteFailed) << threads;
    EXPECT_EQ(ReadWholeFile(folder / "text.txt"), "the old version") << threads;
  }
  TZipExtractor damaged;
  damaged.Options.DestDir = temp.Path();
  EXPECT_EQ(damaged.Extract(Archive("py-crc.zip")), 1);
  EXPECT_FALSE(damaged.WriteFailed);
}

TEST_F(ArchiveTest, Zip64EndRecordsOfManyEntries) {
  TZipFileSource source(Archive("py-many.zip"));
  TZipDirectory directory;
  std::string error;
  ASSERT_TRUE(ReadZipDirectory(source, directory, error)) << error;
  ASSERT_EQ(directory.Entries.size(), 70000u);
  EXPECT_EQ(directory.Entries.front().Name, "f00000");
  EXPECT_EQ(directory.Entries.back().Name, "f69999");
  int64_t data = 0;
  EXPECT_TRUE(LocateEntryData(source, directory, directory.Entries.back(), data, error)) << error;
  // A cap on entries refuses it.
  TZipLimits limits;
  limits.MaxEntries = 65535;
  EXPECT_FALSE(ReadZipDirectory(source, directory, error, limits));
}

// The entry of more than 4 GiB is read through without writing it (4 GiB on
// disk per run would cost minutes); the small entry after it is extracted.
TEST_F(ArchiveTest, EntryLargerThanFourGibibytes) {
  TZipFileSource source(Archive("py-big64.zip"));
  TZipDirectory directory;
  std::string error;
  ASSERT_TRUE(ReadZipDirectory(source, directory, error)) << error;
  ASSERT_EQ(directory.Entries.size(), 2u);
  EXPECT_EQ(directory.Entries[0].UncompressedSize, 4311744512u);
  EXPECT_TRUE(TestZipArchive(Archive("py-big64.zip"), error)) << error;
  std::vector<int> totals;
  TArchiveHooks hooks;
  hooks.OnTotalPercent = [&](int percent) { totals.push_back(percent); };
  hooks.OnStartEntry = [](int index, const std::string&, int, bool& skip) { skip = index == 0; };
  const std::string archive = CopyHere("py-big64.zip");
  ASSERT_TRUE(ExtractPackage(archive, hooks));
  EXPECT_FALSE(FileExists(temp / "big.bin"));
  EXPECT_EQ(ReadWholeFile(temp / "after.txt"), "after the big one");
  EXPECT_FALSE(FileExists(archive));
  ASSERT_FALSE(totals.empty());
  EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
}

TEST_F(ArchiveTest, PackageHooksSkipAndCancel) {
  const std::string archive = CopyHere("py-deflate.zip", "game\\");
  std::vector<std::string> statuses;
  std::vector<int> indexes;
  bool cancelled = false;
  TArchiveHooks hooks;
  hooks.OnStatus = [&](const std::string& text) { statuses.push_back(text); };
  hooks.IsCancelled = [&] { return cancelled; };
  hooks.OnStartEntry = [&](int index, const std::string& target, int count, bool& skip) {
    EXPECT_EQ(count, 9);  // four folder entries and five files
    indexes.push_back(index);
    // Cancelled at the last file: it and nothing after it is written.
    if (target.find("random.bin") != std::string::npos) cancelled = true;
    skip = cancelled;
  };
  EXPECT_FALSE(ExtractPackage(archive, hooks));
  EXPECT_TRUE(FileExists(archive));  // a cancelled run keeps the package
  EXPECT_EQ(statuses, std::vector<std::string>{Utf8ToCp936("正在解压缩: ") + "py-deflate.zip"});
  std::vector<std::string> expected = TreeFiles();
  expected.erase(std::find(expected.begin(), expected.end(), "sub/deeper/random.bin"));
  expected.push_back("py-deflate.zip");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesBelow(temp / "game/"), expected);
  EXPECT_TRUE(std::is_sorted(indexes.begin(), indexes.end()));
  // Without the cancel every file arrives and the package is deleted.
  cancelled = false;
  hooks.OnStartEntry = nullptr;
  EXPECT_TRUE(ExtractPackage(archive, hooks));
  EXPECT_FALSE(FileExists(archive));
  EXPECT_EQ(FilesBelow(temp / "game/"), TreeFiles());
}

TEST_F(ArchiveTest, UnreadableArchiveExtractsNothing) {
  WriteWholeFile(temp / "broken.zip", std::string(5000, 'x'));
  std::vector<std::string> statuses;
  TArchiveHooks hooks;
  hooks.OnStatus = [&](const std::string& text) { statuses.push_back(text); };
  EXPECT_FALSE(ExtractPackage(temp / "broken.zip", hooks));
  EXPECT_TRUE(FileExists(temp / "broken.zip"));
  EXPECT_EQ(statuses.back(), Utf8ToCp936("文件解压缩失败，失败，请稍后再试"));
  const TArchiveEntryCheck check{"text.txt", MD5OfMemory(Source("data/text.txt"))};
  const TArchiveResult missing = ExtractFileArchive(temp / "none.zip", temp.Path(), check, hooks);
  EXPECT_EQ(missing.filesExtracted, 0);
  EXPECT_EQ(missing.archiveSize, -1);
  // A truncated archive: its end record is gone.
  const std::string whole = ReadWholeFile(Archive("zip-deflate.zip"));
  WriteWholeFile(temp / "cut.zip", whole.substr(0, whole.size() / 2));
  EXPECT_EQ(ExtractFileArchive(temp / "cut.zip", temp / "out", check, hooks).filesExtracted, 0);
}

// With two threads writing entries, every entry still reports its progress,
// and every hook runs on the thread that called Extract.
TEST(ZipExtractProgress, EveryEntryReportsOnTheCallingThreadWithTwoWriters) {
  TTempFolder temp;
  const int entries = 12;
  {
    TZipWriter writer(temp / "many.zip", 1);
    std::string bytes(300000, '\0');
    for (int i = 0; i < entries; ++i) {
      for (size_t j = 0; j < bytes.size(); ++j) bytes[j] = static_cast<char>((j * 131 + i * 7 + (j >> 9)) & 0xFF);
      writer.AddBytes("entry" + std::to_string(i) + ".bin", bytes, 1053777920);
    }
    writer.Finish();
  }
  const std::thread::id caller = std::this_thread::get_id();
  int fullEntries = 0, lastTotal = -1;
  bool otherThread = false;
  TZipExtractor extractor;
  extractor.Threads = 2;
  extractor.Options.DestDir = temp / "out";
  extractor.Hooks.OnFilePercent = [&](int percent) {
    otherThread = otherThread || std::this_thread::get_id() != caller;
    if (percent == 100) ++fullEntries;
  };
  extractor.Hooks.OnTotalPercent = [&](int percent) {
    otherThread = otherThread || std::this_thread::get_id() != caller;
    lastTotal = percent;
  };
  ASSERT_EQ(extractor.Extract(temp / "many.zip"), entries);
  EXPECT_FALSE(otherThread);
  EXPECT_EQ(fullEntries, entries);
  EXPECT_EQ(lastTotal, 100);
}
