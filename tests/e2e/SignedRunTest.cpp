// Update runs of a launcher whose package carries a public key, against
// nginx serving releases signed by launcher-manifest --sign: a release
// signed with the key installs; every forgery or replay (made with the same
// signer) is refused with its status text and leaves the installation
// exactly as it was.
#include <gtest/gtest.h>

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <sstream>

#include "common/Format.h"
#include "common/Md5.h"
#include "e2e/RunFixture.h"
#include "package/LauncherSettings.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "signing/Signer.h"

namespace {

// A new key in `pemPath`; its public key text.
std::string NewKey(const std::string& pemPath) {
  TSigningKey key;
  std::string error;
  TPublicKey point;
  EXPECT_TRUE(key.Generate(error) && key.WriteNewFile(pemPath, error) && key.PublicKey(point, error)) << error;
  return FormatPublicKeyText(point);
}

// Writes `path` + ".sig" for the document as it is on disk, expiring
// `expiresIn` seconds from now (in the past when negative).
void Sign(const std::string& pem, const std::string& path, const std::string& name, uint64_t version,
          int64_t expiresIn = 86400) {
  TSigningKey key;
  TReleaseSignature signature;
  std::string error;
  ASSERT_TRUE(key.ReadFile(pem, error) &&
              key.Sign(name, ReadWholeFile(path), version, static_cast<int64_t>(std::time(nullptr)) + expiresIn,
                       signature, error))
      << error;
  WriteWholeFile(path + ".sig", FormatSignatureFile(signature));
}

// A client run of `folder` by a launcher whose package holds `key`.
void RunSigned(TRun& run, const std::string& folder, const std::string& baseUrl, const std::string& key) {
  TUpdateEnvironment environment = Environment(folder);
  environment.PublicKey = key;
  RunUpdate(run, folder, baseUrl, 0, 120000, environment);
}

// Every file below `folder` with its digest, the run's own log left out: a
// refused run writes nothing else.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string path = entry.path().string();
    const std::string relative = path.substr(folder.size());
    if (relative == "UpdateLog.txt") continue;
    files[relative] = entry.is_directory() ? "folder" : MD5OfFile(path);
  }
  return files;
}

// One key, one installed release (version 200), and what the server held
// for it, which each attack changes and the next one gets back.
class SignedRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    pem = keys / "release.pem";
    key = NewKey(pem);
    otherPem = keys / "other.pem";
    NewKey(otherPem);
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    release = "signed" + std::to_string(::getpid()) + "-" + test;
    served = UpdateRoot() + "/" + release + "/";
  }
  void TearDown() override { std::filesystem::remove_all(served); }

  std::string Url() const { return ServerUrl() + release + "/"; }
  // The published manifest and its signature as they are now.
  std::string Manifest() const { return served + "update.json"; }

  TTempFolder keys;
  std::string pem, key, otherPem, release, served;
};

const TFiles FirstFiles = {{"Client.bin", Bytes(70000, 1)}, {"data/ui/a.txt", Bytes(3000, 2)}};
const TFiles SecondFiles = {{"Client.bin", Bytes(70000, 3)}, {"data/ui/a.txt", Bytes(3000, 2)},
                            {"data/new.pak", Bytes(9000, 4)}};

}  // namespace

TEST_F(SignedRunTest, ASignedReleaseInstallsAndRaisesTheMark) {
  Publish(release, FirstFiles, {"--sign", pem, "--release-version", "200"});
  TTempFolder folder;
  TRun run;
  RunSigned(run, folder.Path(), Url(), key);
  EXPECT_EQ(run.result, 1u);
  EXPECT_FALSE(run.refused);
  for (const auto& [path, bytes] : FirstFiles) EXPECT_EQ(MD5OfFile(folder / path), MD5OfMemory(bytes)) << path;
  EXPECT_EQ(ReadWholeFile(folder / "data/update0.versions"), "update.json=200\r\n");
  EXPECT_NE(run.log.find("signature of update.json accepted: version 200"), std::string::npos) << run.log;
  // The same release again is no rollback.
  TRun again;
  RunSigned(again, folder.Path(), Url(), key);
  EXPECT_EQ(again.result, 1u);
}

// Each attack on the installed release is refused with its own status line,
// and the installation (files, state, manifest copy, marks) stays as it was.
TEST_F(SignedRunTest, EveryForgeryAndReplayIsRefusedAndChangesNothing) {
  // An older signed release (version 100) and the launcher's own signed
  // manifest, kept for the replays.
  Publish(release, FirstFiles, {"--full-package", "--sign", pem, "--release-version", "100"});
  TTempFolder old;
  CopyFileAt(Manifest(), old / "update.json");
  CopyFileAt(Manifest() + ".sig", old / "update.json.sig");
  const std::string complete = served + "complete/";
  for (const char* name : {"release.json", "release.json.sig", "update-full.zip"})
    CopyFileAt(complete + name, old / name);
  Publish(release + "-launcher", {{"launcher.exe", Bytes(5000, 9)}},
          {"--name", "updateL.json", "--full-package", "--sign", pem, "--release-version", "300"});
  const std::string launcherManifest = UpdateRoot() + "/" + release + "-launcher/updateL.json";
  const std::string launcherComplete = UpdateRoot() + "/" + release + "-launcher/complete/";

  // The current release, version 200, installed.
  Publish(release, SecondFiles, {"--sign", pem, "--release-version", "200"});
  const std::string goodManifest = ReadWholeFile(Manifest());
  const std::string goodSignature = ReadWholeFile(Manifest() + ".sig");
  TTempFolder folder;
  {
    TRun install;
    RunSigned(install, folder.Path(), Url(), key);
    ASSERT_EQ(install.result, 1u);
  }
  const auto installed = Snapshot(folder.Path());
  ASSERT_EQ(ReadWholeFile(folder / "data/update0.versions"), "update.json=200\r\n");

  struct TAttack {
    const char* what;
    TSignatureVerdict verdict;
    std::function<void()> serve;
    // The document refused, and the plan of the run (2: the full package).
    std::string document = "update.json";
    int plan = 0;
  };
  const std::string manifest = Manifest();
  const std::string signature = Manifest() + ".sig";
  const std::vector<TAttack> attacks = {
      {"a changed manifest byte", TSignatureVerdict::Changed,
       [&] {
         std::string changed = goodManifest;
         const size_t at = changed.find(MD5OfMemory(SecondFiles.at("Client.bin")));
         ASSERT_NE(at, std::string::npos);
         changed[at] = changed[at] == 'a' ? 'b' : 'a';
         WriteWholeFile(manifest, changed);
       }},
      {"a signature of another key", TSignatureVerdict::BadSignature,
       [&] { Sign(otherPem, manifest, "update.json", 201); }},
      {"the older signed release replayed", TSignatureVerdict::Rollback,
       [&] {
         CopyFileAt(old / "update.json", manifest);
         CopyFileAt(old / "update.json.sig", signature);
       }},
      {"an expired signature", TSignatureVerdict::Expired,
       [&] { Sign(pem, manifest, "update.json", 201, -60); }},
      {"no signature", TSignatureVerdict::Missing, [&] { DeleteFileAt(signature); }},
      {"a huge signature file", TSignatureVerdict::Malformed,
       [&] { WriteWholeFile(signature, goodSignature + std::string(8 << 20, '\n')); }},
      {"a signature file with CR LF line ends", TSignatureVerdict::Malformed,
       [&] {
         std::string crlf;
         for (const char c : goodSignature) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
         WriteWholeFile(signature, crlf);
       }},
      {"the launcher's signed manifest served as update.json", TSignatureVerdict::WrongDocument,
       [&] {
         CopyFileAt(launcherManifest, manifest);
         CopyFileAt(launcherManifest + ".sig", signature);
       }},
      // Never accepted before, the full package is still no older than the
      // manifest the same run took.
      {"the older signed full package with the current manifest", TSignatureVerdict::Rollback,
       [&] {
         for (const char* name : {"release.json", "release.json.sig", "update-full.zip"})
           CopyFileAt(old / name, complete + name);
       },
       "complete/release.json", 2},
      {"the launcher run's signed full package served to the client run", TSignatureVerdict::WrongDocument,
       [&] {
         for (const char* name : {"release.json", "release.json.sig", "updateL-full.zip"})
           CopyFileAt(launcherComplete + name, complete + name);
       },
       "complete/release.json", 2},
  };
  for (const TAttack& attack : attacks) {
    attack.serve();
    WriteUpdateNow(folder.Path(), attack.plan);
    TRun run;
    RunSigned(run, folder.Path(), Url(), key);
    EXPECT_EQ(run.result, 0u) << attack.what;
    EXPECT_TRUE(run.refused) << attack.what;
    EXPECT_EQ(VerdictName(run.verdict), std::string(VerdictName(attack.verdict))) << attack.what;
    EXPECT_EQ(run.sink.Last(), RefusedStatus(attack.verdict, attack.document)) << attack.what;
    EXPECT_NE(run.log.find("signature of " + attack.document + " refused: " + VerdictName(attack.verdict)),
              std::string::npos)
        << attack.what;
    // A refused run leaves the plan for the next start as it was.
    EXPECT_EQ(ReadUpdateNow(folder.Path()), attack.plan) << attack.what;
    WriteUpdateNow(folder.Path(), 0);
    EXPECT_EQ(Snapshot(folder.Path()), installed) << attack.what;
    WriteWholeFile(manifest, goodManifest);
    WriteWholeFile(signature, goodSignature);
  }
}

TEST_F(SignedRunTest, StatusTextsSayWhyInChinese) {
  EXPECT_EQ(RefusedStatus(TSignatureVerdict::Changed, "update.json"),
            Utf8ToCp936("#114 : update.json 与签名不符，已拒绝更新。"));
  EXPECT_EQ(RefusedStatus(TSignatureVerdict::Rollback, "complete/release.json"),
            Utf8ToCp936("#116 : complete/release.json 比已接受的版本旧，已拒绝更新。"));
  EXPECT_EQ(RefusedStatus(TSignatureVerdict::Missing, "updateL.json"),
            Utf8ToCp936("#110 : updateL.json 没有签名，已拒绝更新。"));
}

// The full package's release document is held to the same rule.
TEST_F(SignedRunTest, AnUnsignedReleaseDocumentIsRefused) {
  Publish(release, FirstFiles, {"--full-package", "--sign", pem, "--release-version", "50"});
  DeleteFileAt(served + "complete/release.json.sig");
  TTempFolder folder;
  WriteUpdateNow(folder.Path(), 2);
  const auto before = Snapshot(folder.Path());
  TRun run;
  RunSigned(run, folder.Path(), Url(), key);
  EXPECT_EQ(run.result, 0u);
  EXPECT_TRUE(run.refused);
  EXPECT_EQ(VerdictName(run.verdict), std::string("Missing"));
  EXPECT_EQ(run.sink.Last(), RefusedStatus(TSignatureVerdict::Missing, "complete/release.json"));
  EXPECT_FALSE(FileExists(folder / "Client.bin"));
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 2);

  // Signed, it installs, and both documents have their marks.
  Sign(pem, served + "complete/release.json", "complete/release.json", 50);
  ASSERT_TRUE(FileExists(served + "complete/release.json.sig"));
  TRun signedRun;
  RunSigned(signedRun, folder.Path(), Url(), key);
  EXPECT_EQ(signedRun.result, 1u);
  for (const auto& [path, bytes] : FirstFiles) EXPECT_EQ(MD5OfFile(folder / path), MD5OfMemory(bytes)) << path;
  EXPECT_EQ(ReadWholeFile(folder / "data/update0.versions"), "complete/release.json=50\r\nupdate.json=50\r\n");
}

// An unpacked full package is compared with the manifest like any other
// files: one that does not match it (here the package of another release)
// leaves wrong files that the same run finds and fetches.
TEST_F(SignedRunTest, AFullPackageIsComparedWithTheManifest) {
  Publish(release, SecondFiles, {"--full-package", "--sign", pem, "--release-version", "70"});
  Publish(release, FirstFiles, {"--sign", pem, "--release-version", "70"});
  TTempFolder folder;
  WriteUpdateNow(folder.Path(), 2);
  TRun run;
  RunSigned(run, folder.Path(), Url(), key);
  EXPECT_EQ(run.result, 1u);
  EXPECT_FALSE(run.refused);
  for (const auto& [path, bytes] : FirstFiles) EXPECT_EQ(MD5OfFile(folder / path), MD5OfMemory(bytes)) << path;
  EXPECT_NE(run.log.find("/Client.bin"), std::string::npos) << run.log;
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 0);
}

// A key text that is not a key refuses the run before anything is fetched;
// without a key nothing changes: no signature is asked for.
TEST_F(SignedRunTest, AnUnreadableKeyRefusesAndNoKeyFetchesNoSignature) {
  Publish(release, FirstFiles);
  TTempFolder folder;
  TRun run;
  RunSigned(run, folder.Path(), Url(), "p256:BGsX0fLhLEJH");
  EXPECT_EQ(run.result, 0u);
  EXPECT_TRUE(run.sink.Showed(Utf8ToCp936("#109 : 启动器的公钥无效，已拒绝更新。")));
  EXPECT_EQ(run.log.find("=>"), std::string::npos) << run.log;
  EXPECT_FALSE(DirectoryExists(folder / "data"));

  TRun plain;
  RunSigned(plain, folder.Path(), Url(), "");
  EXPECT_EQ(plain.result, 1u);
  for (const auto& [path, bytes] : FirstFiles) EXPECT_EQ(MD5OfFile(folder / path), MD5OfMemory(bytes)) << path;
  EXPECT_FALSE(FileExists(folder / "data/update0.versions"));
  // The server's own record of what was asked for this release.
  std::istringstream access(ReadWholeFile(AccessLogPath()));
  int manifests = 0, signatures = 0;
  for (std::string line; std::getline(access, line);) {
    if (line.find("/" + release + "/") == std::string::npos) continue;
    manifests += line.find("/update.json ") != std::string::npos;
    signatures += line.find(".sig ") != std::string::npos;
  }
  EXPECT_EQ(manifests, 1);
  EXPECT_EQ(signatures, 0);
}
