// Update runs of a launcher whose package carries a public key, against
// nginx serving releases signed with OpenSSL: a release signed with the key
// installs; every forgery or replay is refused with its status text and
// leaves the installation exactly as it was.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>

#include "common/Format.h"
#include "common/Md5.h"
#include "common/WindowMessages.h"
#include "package/LauncherSettings.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "support/TestSupport.h"
#include "tools/launcher-manifest/LauncherManifest.h"
#include "update/SignedDocuments.h"
#include "update/UpdateThread.h"

namespace {

int PortBase() {
  const char* base = std::getenv("LAUNCHER_TEST_PORT_BASE");
  return base ? std::atoi(base) : 21000;
}

std::string UpdateRoot() {
  const char* root = std::getenv("LAUNCHER_TEST_UPDATE_ROOT");
  return root ? root : "/nonexistent";
}

std::string ServerUrl(const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(PortBase() + 5) + "/" + path + "/";
}

// Runs the openssl command line through the signing helper beside this file.
std::string Signer() {
  const std::string source = __FILE__;
  return "python3 '" + source.substr(0, source.find_last_of('/')) + "/sign-document.py'";
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// A new key in `pemPath`; its public key text.
std::string NewKey(const std::string& pemPath) {
  const std::string textPath = pemPath + ".public";
  EXPECT_EQ(std::system((Signer() + " new " + Quoted(pemPath) + " > " + Quoted(textPath)).c_str()), 0);
  std::string text = ReadWholeFile(textPath);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Writes `path` + ".sig" for the document as it is on disk. `expires` is a
// Unix time or "+N" / "-N" seconds from now.
void Sign(const std::string& pem, const std::string& path, const std::string& name, uint64_t version,
          const std::string& expires = "+86400") {
  const std::string command = Signer() + " sign " + Quoted(pem) + " " + Quoted(path) + " " + name + " " +
                              std::to_string(version) + " " + expires;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

class TSink : public TMessageSink {
public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> guard(FLock);
    if (message == UM_STATUS_TEXT) FStatuses.push_back(TakePostedText(wParam));
    if (message == UM_UPDATE_DONE) {
      Result = static_cast<int>(wParam);
      Done.SetEvent();
    }
  }
  bool Showed(const std::string& status) {
    std::lock_guard<std::mutex> guard(FLock);
    for (const std::string& s : FStatuses)
      if (s == status) return true;
    return false;
  }
  std::string Last() {
    std::lock_guard<std::mutex> guard(FLock);
    return FStatuses.empty() ? std::string() : FStatuses.back();
  }
  TEvent Done;
  int Result = -1;

private:
  std::mutex FLock;
  std::vector<std::string> FStatuses;
};

struct TSignedRun {
  TSink sink;
  bool refused = false;
  TSignatureVerdict verdict = TSignatureVerdict::Accepted;
  std::string log;
};

void RunSigned(TSignedRun& run, const std::string& folder, const std::string& baseUrl, const std::string& key,
               int mode = 0) {
  TUpdateEnvironment environment;
  environment.LauncherFolder = folder;
  environment.LauncherBaseName = "launcher";
  environment.PublicKey = key;
  {
    TUpdateThread thread(run.sink, mode, StateFileName(mode), mode == 0 ? ClientManifestName : LauncherManifestName,
                         baseUrl, environment);
    EXPECT_TRUE(run.sink.Done.WaitFor(120000));
    thread.TerminateAndWait();
    run.refused = thread.Refused();
    run.verdict = thread.RefusedVerdict();
  }
  run.log = ReadWholeFile(folder + "UpdateLog.txt");
}

using TFiles = std::map<std::string, std::string>;

std::string Bytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

// Puts the release under the server's root with the manifest tool (unsigned;
// the tests sign what they serve).
void Publish(const std::string& name, const TFiles& files, std::vector<std::string> flags = {}) {
  TTempFolder release;
  for (const auto& [path, bytes] : files) {
    const std::string full = release.Path() + path;
    ForceDirectories(full.substr(0, full.find_last_of('/')));
    WriteWholeFile(full, bytes);
  }
  std::vector<std::string> args = {release.Path(), UpdateRoot() + "/" + name};
  args.insert(args.end(), flags.begin(), flags.end());
  std::ostringstream out, err;
  ASSERT_EQ(RunLauncherManifest(args, out, err), 0) << err.str();
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

  std::string Url() const { return ServerUrl(release); }
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
  Publish(release, FirstFiles);
  Sign(pem, Manifest(), "update.json", 200);
  TTempFolder folder;
  TSignedRun run;
  RunSigned(run, folder.Path(), Url(), key);
  EXPECT_EQ(run.sink.Result, 1);
  EXPECT_FALSE(run.refused);
  for (const auto& [path, bytes] : FirstFiles) EXPECT_EQ(MD5OfFile(folder / path), MD5OfMemory(bytes)) << path;
  EXPECT_EQ(ReadWholeFile(folder / "data/update0.versions"), "update.json=200\r\n");
  EXPECT_NE(run.log.find("signature of update.json accepted: version 200"), std::string::npos) << run.log;
  // The same release again is no rollback.
  TSignedRun again;
  RunSigned(again, folder.Path(), Url(), key);
  EXPECT_EQ(again.sink.Result, 1);
}

// Each attack on the installed release is refused with its own status line,
// and the installation (files, state, manifest copy, marks) stays as it was.
TEST_F(SignedRunTest, EveryForgeryAndReplayIsRefusedAndChangesNothing) {
  // An older signed release (version 100) and the launcher's own signed
  // manifest, kept for the replays.
  Publish(release, FirstFiles);
  Sign(pem, Manifest(), "update.json", 100);
  TTempFolder old;
  CopyFileAt(Manifest(), old / "update.json");
  CopyFileAt(Manifest() + ".sig", old / "update.json.sig");
  Publish(release + "-launcher", {{"launcher.exe", Bytes(5000, 9)}}, {"--name", "updateL.json"});
  const std::string launcherManifest = UpdateRoot() + "/" + release + "-launcher/updateL.json";
  Sign(pem, launcherManifest, "updateL.json", 300);

  // The current release, version 200, installed.
  Publish(release, SecondFiles);
  Sign(pem, Manifest(), "update.json", 200);
  const std::string goodManifest = ReadWholeFile(Manifest());
  const std::string goodSignature = ReadWholeFile(Manifest() + ".sig");
  TTempFolder folder;
  {
    TSignedRun install;
    RunSigned(install, folder.Path(), Url(), key);
    ASSERT_EQ(install.sink.Result, 1);
  }
  const auto installed = Snapshot(folder.Path());
  ASSERT_EQ(ReadWholeFile(folder / "data/update0.versions"), "update.json=200\r\n");

  struct TAttack {
    const char* what;
    TSignatureVerdict verdict;
    std::function<void()> serve;
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
       [&] { Sign(pem, manifest, "update.json", 201, "-60"); }},
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
  };
  for (const TAttack& attack : attacks) {
    attack.serve();
    TSignedRun run;
    RunSigned(run, folder.Path(), Url(), key);
    EXPECT_EQ(run.sink.Result, 0) << attack.what;
    EXPECT_TRUE(run.refused) << attack.what;
    EXPECT_EQ(VerdictName(run.verdict), std::string(VerdictName(attack.verdict))) << attack.what;
    EXPECT_EQ(run.sink.Last(), RefusedStatus(attack.verdict, "update.json")) << attack.what;
    EXPECT_NE(run.log.find(std::string("signature of update.json refused: ") + VerdictName(attack.verdict)),
              std::string::npos)
        << attack.what;
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
  Publish(release, FirstFiles, {"--full-package"});
  Sign(pem, Manifest(), "update.json", 50);
  TTempFolder folder;
  WriteUpdateNow(folder.Path(), 2);
  const auto before = Snapshot(folder.Path());
  TSignedRun run;
  RunSigned(run, folder.Path(), Url(), key);
  EXPECT_EQ(run.sink.Result, 0);
  EXPECT_TRUE(run.refused);
  EXPECT_EQ(VerdictName(run.verdict), std::string("Missing"));
  EXPECT_EQ(run.sink.Last(), RefusedStatus(TSignatureVerdict::Missing, "complete/release.json"));
  EXPECT_FALSE(FileExists(folder / "Client.bin"));
  EXPECT_EQ(ReadUpdateNow(folder.Path()), 2);

  // Signed, it installs, and both documents have their marks.
  Sign(pem, served + "complete/release.json", "complete/release.json", 50);
  TSignedRun signedRun;
  RunSigned(signedRun, folder.Path(), Url(), key);
  EXPECT_EQ(signedRun.sink.Result, 1);
  for (const auto& [path, bytes] : FirstFiles) EXPECT_EQ(MD5OfFile(folder / path), MD5OfMemory(bytes)) << path;
  EXPECT_EQ(ReadWholeFile(folder / "data/update0.versions"), "complete/release.json=50\r\nupdate.json=50\r\n");
}

// A key text that is not a key refuses the run before anything is fetched;
// without a key nothing changes: no signature is asked for.
TEST_F(SignedRunTest, AnUnreadableKeyRefusesAndNoKeyFetchesNoSignature) {
  Publish(release, FirstFiles);
  TTempFolder folder;
  TSignedRun run;
  RunSigned(run, folder.Path(), Url(), "p256:BGsX0fLhLEJH");
  EXPECT_EQ(run.sink.Result, 0);
  EXPECT_TRUE(run.sink.Showed(Utf8ToCp936("#109 : 启动器的公钥无效，已拒绝更新。")));
  EXPECT_EQ(run.log.find("=>"), std::string::npos) << run.log;
  EXPECT_FALSE(DirectoryExists(folder / "data"));

  TSignedRun plain;
  RunSigned(plain, folder.Path(), Url(), "");
  EXPECT_EQ(plain.sink.Result, 1);
  for (const auto& [path, bytes] : FirstFiles) EXPECT_EQ(MD5OfFile(folder / path), MD5OfMemory(bytes)) << path;
  EXPECT_FALSE(FileExists(folder / "data/update0.versions"));
  // The server's own record of what was asked for this release.
  std::istringstream access(ReadWholeFile(UpdateRoot() + "/../access.log"));
  int manifests = 0, signatures = 0;
  for (std::string line; std::getline(access, line);) {
    if (line.find("/" + release + "/") == std::string::npos) continue;
    manifests += line.find("/update.json ") != std::string::npos;
    signatures += line.find(".sig ") != std::string::npos;
  }
  EXPECT_EQ(manifests, 1);
  EXPECT_EQ(signatures, 0);
}
