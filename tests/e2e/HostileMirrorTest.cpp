// A mirror that serves other archives than the operator published, against
// a --zip release on nginx: whatever the archive holds, no file but the one
// the manifest names lands in the installation, that file keeps its old
// bytes unless the new ones are the manifest's, and the run counts it as
// still wrong. Each hostile row runs against three manifests: signed (the
// run has the key; the archive's own SHA-256 refuses it before it is
// opened), unsigned as launcher-manifest writes it (the archive's MD5 does),
// and unsigned without the archive's digests (only the one entry is
// unpacked, and only with the file's digest). Afterwards the genuine
// archive installs. The documents are signed by the openssl command line
// with the test key, natively and under Wine alike.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>

#include "common/Md5.h"
#include "e2e/RunFixture.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "platform/Tick.h"
#include "signing/ReleaseSignature.h"
#include "update/manifest/Manifest.h"
#include "update/archive/ZipWriter.h"

namespace {

namespace fs = std::filesystem;

std::string TestData() {
  const char* data = std::getenv("LAUNCHER_TEST_DATA");
  return data ? data : "/nonexistent";
}

// Writes `path` + ".sig" for the document on disk with the test key,
// through tests/e2e/sign-document.py. Under Wine the script runs as a Linux
// program that the test cannot wait for: the signature counts once it
// parses.
void Sign(const std::string& path, const std::string& name, uint64_t version) {
  DeleteFileAt(path + ".sig");
  const std::string script = TestData() + "/../e2e/sign-document.py";
  const TStartedProcess signer = StartProcess("/usr/bin/python3", script + " sign " + TestData() +
                                                                      "/signing/signing-key.pem " + path + " " + name +
                                                                      " " + std::to_string(version) + " +86400");
  ASSERT_TRUE(signer) << "python3 cannot be started";
  const uint32_t start = GetTickCount32();
  TReleaseSignature parsed;
  while (!(FileExists(path + ".sig") && ParseSignatureFile(ReadWholeFile(path + ".sig"), parsed))) {
    ASSERT_LT(GetTickCount32() - start, 60000u) << "no signature for " << path;
    SleepMs(20);
  }
}

std::string TestKey() {
  std::string key = ReadWholeFile(TestData() + "/signing/public.txt");
  while (!key.empty() && (key.back() == '\n' || key.back() == '\r')) key.pop_back();
  return key;
}

// Text that deflate at level 9 packs smaller than launcher-manifest's level
// 6 does: room for a hostile archive to carry more and still have the
// manifest's size.
std::string Words(size_t count, unsigned seed) {
  std::string text;
  uint32_t x = seed * 2654435761u + 7;
  for (size_t i = 0; i < count; ++i) {
    x = x * 1664525u + 1013904223u;
    text += "w" + std::to_string((x >> 8) % 300) + " ";
  }
  return text;
}

using TEntries = std::vector<std::pair<std::string, std::string>>;  // name in the archive, bytes

// An archive of `entries` padded to exactly `size` bytes by one more stored
// entry of random bytes.
void WriteHostileArchive(const std::string& path, const TEntries& entries, int64_t size) {
  const auto write = [&](const std::string& padding) {
    TZipWriter archive(path, 9);
    for (const auto& [name, bytes] : entries) archive.AddBytes(name, bytes, 0x5A210000);
    archive.AddBytes("pad.bin", padding, 0x5A210000);
    return archive.Finish();
  };
  const int64_t bare = write(std::string());
  ASSERT_LT(bare, size) << "the hostile archive does not fit the manifest's size";
  ASSERT_EQ(write(Bytes(static_cast<size_t>(size - bare), 77)), size);
}

// Every file below `folder`, relative, "/" between folders.
std::set<std::string> FilesBelow(const std::string& folder) {
  const fs::path root = fs::path(folder).parent_path();  // without the separator at its end
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), root).generic_string());
  return names;
}

// The files of `from` copied below `to` (both ending in a separator).
void CopyFolder(const std::string& from, const std::string& to) {
  for (const std::string& name : FilesBelow(from)) {
    const std::string target = to + name;
    ForceDirectories(target.substr(0, target.find_last_of('/')));
    ASSERT_TRUE(CopyFileAt(from + name, target)) << name;
  }
}

enum class TColumn { Signed, Unsigned, NoArchiveDigests };

class HostileMirrorTest : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    tag = "hostile" + std::to_string(GetTickCount32()) + "-" + test;
    oldUrl = Publish(tag + "-a", {{"game.txt", oldText}}, {"--zip"});
    newUrl = Publish(tag + "-b", {{"game.txt", newText}}, {"--zip"});
    served = UpdateRoot() + "/" + tag + "-b/";
    genuine = ReadWholeFile(served + "game.txt.zip");
    manifest = ReadWholeFile(served + "update.json");
    Sign(UpdateRoot() + "/" + tag + "-a/update.json", "update.json", 100);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(UpdateRoot() + "/" + tag + "-a", ignored);
    fs::remove_all(UpdateRoot() + "/" + tag + "-b", ignored);
  }

  // The new release's manifest for the column, `edit` applied to its entry.
  void ServeManifest(TColumn column, const std::function<void(TJsonValue&)>& edit = nullptr) {
    TJsonValue document;
    ASSERT_TRUE(ParseUpdateJson(manifest, document));
    if (column == TColumn::NoArchiveDigests) {
      document[0].erase("ZipHash");
      document[0].erase("ZipSha256");
    }
    if (edit) edit(document[0]);
    WriteWholeFile(served + "update.json", document.dump(2));
    if (column == TColumn::Signed) Sign(served + "update.json", "update.json", 200);
  }

  void Run(TRun& run, const std::string& folder, const std::string& url, TColumn column) {
    TUpdateEnvironment environment = Environment(folder);
    if (column == TColumn::Signed) environment.PublicKey = TestKey();
    RunUpdate(run, folder, url, 0, 120000, environment);
  }

  const std::string oldText = Words(20000, 1);
  const std::string newText = Words(20000, 2);
  std::string tag, oldUrl, newUrl, served, genuine, manifest;
};

}  // namespace

TEST_F(HostileMirrorTest, NothingButTheManifestsFileLandsAndTheOldOneStays) {
  const int64_t size = static_cast<int64_t>(genuine.size());
  const std::string zip = served + "game.txt.zip";
  struct TRow {
    const char* what;
    std::function<void()> serve;     // the mirror's archive
    std::function<void(TJsonValue&)> edit;  // the manifest entry's change
    // Whether the run without the archive's digests installs the new file.
    bool installsWithoutArchiveDigests;
  };
  const TRow rows[] = {
      {"the genuine file with launcher.update and version.dll beside it",
       [&] {
         WriteHostileArchive(zip, {{"game.txt", newText}, {"launcher.update", "MZ planted"}, {"version.dll", "MZ dll"}},
                             size);
       },
       nullptr, true},
      {"game.txt with other bytes", [&] { WriteHostileArchive(zip, {{"game.txt", Words(20000, 3)}}, size); }, nullptr,
       false},
      {"the genuine bytes under another name", [&] { WriteHostileArchive(zip, {{"other.txt", newText}}, size); },
       nullptr, false},
      {"no archive at all", [&] { WriteWholeFile(zip, Bytes(static_cast<size_t>(size), 5)); }, nullptr, false},
      {"a signed entry without Sha256", [&] { WriteWholeFile(zip, genuine); },
       [](TJsonValue& entry) { entry.erase("Sha256"); }, true},
      {"a signed entry without ZipSha256", [&] { WriteWholeFile(zip, genuine); },
       [](TJsonValue& entry) { entry.erase("ZipSha256"); }, true},
  };
  for (const TColumn column : {TColumn::Signed, TColumn::Unsigned, TColumn::NoArchiveDigests}) {
    // The old release installed, as each row starts from it.
    TTempFolder installed;
    {
      TRun install;
      Run(install, installed.Path(), oldUrl, column);
      ASSERT_EQ(install.stillWrong, 0) << install.log;
      ASSERT_EQ(ReadWholeFile(installed / "game.txt"), oldText);
    }
    for (const TRow& row : rows) {
      const std::string what = std::string(row.what) + ", column " + std::to_string(static_cast<int>(column));
      // The rows about missing fields concern signed runs; unsigned runs do
      // without them.
      const bool fieldRow = row.edit != nullptr;
      TTempFolder player;
      CopyFolder(installed.Path(), player.Path());
      const std::set<std::string> before = FilesBelow(player.Path());
      ServeManifest(column, row.edit);
      row.serve();
      TRun attacked;
      Run(attacked, player.Path(), newUrl, column);
      EXPECT_EQ(attacked.result, 1u) << what;
      const bool installs = column == TColumn::Signed ? false
                            : column == TColumn::Unsigned ? fieldRow
                                                          : row.installsWithoutArchiveDigests;
      EXPECT_EQ(ReadWholeFile(player / "game.txt"), installs ? newText : oldText) << what << "\n" << attacked.log;
      EXPECT_EQ(attacked.stillWrong, installs ? 0 : 1) << what << "\n" << attacked.log;
      // Nothing planted, nothing left behind: the run's log aside, no file
      // that was not there before.
      std::set<std::string> after = FilesBelow(player.Path());
      after.erase("UpdateLog.txt");
      for (const std::string& name : after) EXPECT_EQ(before.count(name), 1u) << what << ": " << name;

      // The genuine release afterwards installs.
      ServeManifest(column);
      WriteWholeFile(zip, genuine);
      TRun honest;
      Run(honest, player.Path(), newUrl, column);
      EXPECT_EQ(honest.stillWrong, 0) << what << "\n" << honest.log;
      EXPECT_EQ(ReadWholeFile(player / "game.txt"), newText) << what;
    }
  }
}
