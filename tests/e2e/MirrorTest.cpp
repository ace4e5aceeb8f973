// Update runs from two base addresses whose first one fails in its own way,
// against the nginx mirrors of tests/peers/mirrors.peer: each run takes the
// release from the healthy mirror after it, every file right, and the
// failing mirror is set aside with its reason. The Windows build runs the
// rows marked for it; one row goes through launcher-update, whose end
// lines name every mirror.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "common/Md5.h"
#include "e2e/RunFixture.h"
#include "package/LauncherSettings.h"
#include "platform/File.h"
#include "update/manifest/AcceptedVersions.h"

namespace {

namespace fs = std::filesystem;

// The mirrors peer keeps its roots beside the update server's.
std::string MirrorState() { return UpdateRoot() + "/../../mirrors/"; }

std::string TestData() {
  const char* data = std::getenv("LAUNCHER_TEST_DATA");
  return data ? data : "/nonexistent";
}

std::string TestKey() {
  std::string key = ReadWholeFile(TestData() + "/signing/public.txt");
  while (!key.empty() && (key.back() == '\n' || key.back() == '\r')) key.pop_back();
  return key;
}

std::string MirrorUrl(int offset, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(PortBase() + offset) + "/" + path;
}

const TFiles Release = {{"Client.bin", Bytes(300000, 31)}, {"data/ui/a.txt", Bytes(3000, 32)},
                        {"data/b.pak", Bytes(60000, 33)}};
const TFiles OldRelease = {{"Client.bin", Bytes(300000, 41)}, {"data/ui/a.txt", Bytes(3000, 42)},
                           {"data/b.pak", Bytes(60000, 43)}};

enum class TFirst { NeverAccepts, NotFound, OtherBytes, Crawl, StaleSigned };

struct TRow {
  const char* what;
  TFirst first;
  // Words the first mirror's set-aside reason holds; null: it may stay in
  // use (a crawl that delivered its share before the run ended).
  const char* setAside;
  bool underWine;  // one of the rows the Windows build runs
  bool viaTool;    // run through launcher-update (native builds)
};

// Where the release is, and the first mirror's base for the row.
struct TPublished {
  std::string first, healthy;
};

TPublished PublishRow(const TRow& row, const std::string& name) {
  const std::string www = MirrorState() + "www/";
  const bool signedRow = row.first == TFirst::StaleSigned;
  const std::string pem = TestData() + "/signing/signing-key.pem";
  const std::vector<std::string> flags =
      signedRow ? std::vector<std::string>{"--sign", pem, "--release-version", "200"} : std::vector<std::string>{};
  PublishInto(www, name, Release, flags);
  TPublished published{"", MirrorUrl(81, name)};
  switch (row.first) {
    case TFirst::NeverAccepts:
      published.first = MirrorUrl(85, name);
      break;
    case TFirst::NotFound:
      published.first = MirrorUrl(82, name);
      break;
    case TFirst::Crawl:
      published.first = MirrorUrl(84, name);
      break;
    case TFirst::OtherBytes: {
      // A broken cache: the operator's manifest, files of the same size
      // whose bytes are not the release's.
      const std::string other = MirrorState() + "other/" + name + "/";
      ForceDirectories(other + "data/ui");
      CopyFileAt(www + name + "/update.json", other + "update.json");
      unsigned seed = 50;
      for (const auto& [path, bytes] : Release) WriteWholeFile(other + path, Bytes(bytes.size(), ++seed));
      published.first = MirrorUrl(83, name);
      break;
    }
    case TFirst::StaleSigned:
      // The release before, signed as it was, still on the first mirror.
      PublishInto(www, name + "-stale", OldRelease, {"--sign", pem, "--release-version", "100"});
      published.first = MirrorUrl(80, name + "-stale");
      break;
  }
  return published;
}

#ifndef _WIN32
// launcher-update's output and exit code.
int RunTool(const std::string& arguments, std::string& output) {
  const char* tools = std::getenv("LAUNCHER_TEST_TOOLS");
  EXPECT_NE(tools, nullptr) << "LAUNCHER_TEST_TOOLS is not set";
  const std::string command =
      std::string(tools ? tools : "/nonexistent") + "/launcher-update/launcher-update " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The line launcher-update ends with for `base`.
std::string MirrorLine(const std::string& output, const std::string& base) {
  std::istringstream lines(output);
  const std::string start = "mirror " + base + ":";
  for (std::string line; std::getline(lines, line);)
    if (line.compare(0, start.size(), start) == 0) return line;
  return "";
}
#endif

const TRow Rows[] = {
    {"a first mirror that never accepts", TFirst::NeverAccepts, "update.json cannot be fetched: no answer", true,
     false},
    {"a first mirror that answers 404", TFirst::NotFound, "update.json cannot be fetched: status 404", true, false},
    {"a first mirror serving other bytes of the same size", TFirst::OtherBytes, "failed their check", false, false},
    {"a first mirror at a crawl", TFirst::Crawl, nullptr, false, false},
    {"a first mirror with an older signed manifest", TFirst::StaleSigned, "update.json signature refused: Rollback",
     false, true},
};

}  // namespace

TEST(MirrorTest, AFailingFirstMirrorCostsTheRunNothing) {
  for (const TRow& row : Rows) {
#ifdef _WIN32
    if (!row.underWine) continue;
#endif
    SCOPED_TRACE(row.what);
    const std::string name = "mirrors" + std::to_string(::getpid()) + "-" + std::to_string(&row - Rows);
    const TPublished published = PublishRow(row, name);
    TTempFolder folder;
    const bool signedRow = row.first == TFirst::StaleSigned;
    if (signedRow) {
      // The player's launcher accepted the current release before.
      std::string error;
      TAcceptedVersions versions(folder.Path() + AcceptedVersionsFileName(0));
      ASSERT_TRUE(versions.Raise(ClientManifestName, 200, error)) << error;
    }
    if (row.viaTool) {
#ifndef _WIN32
      std::string output;
      const int code = RunTool("--base " + published.first + " --base " + published.healthy + " --dir " +
                                   folder.Path() + (signedRow ? " --key " + TestKey() : ""),
                               output);
      EXPECT_EQ(code, 0) << output;
      const std::string first = MirrorLine(output, published.first);
      EXPECT_NE(first.find(std::string(", set aside: ") + row.setAside), std::string::npos) << output;
      const std::string healthy = MirrorLine(output, published.healthy);
      EXPECT_NE(healthy.find(" bytes, " + std::to_string(Release.size()) + " files"), std::string::npos) << output;
      EXPECT_EQ(healthy.find("set aside"), std::string::npos) << output;
#endif
    } else {
      TUpdateEnvironment environment = Environment(folder.Path());
      if (signedRow) environment.PublicKey = TestKey();
      TRun run;
      RunUpdate(run, folder.Path(), published.first + "|" + published.healthy, 0, 120000, environment);
      EXPECT_EQ(run.result, 1u) << run.log;
      EXPECT_EQ(run.stillWrong, 0) << run.log;
      ASSERT_EQ(run.mirrors.size(), 2u);
      EXPECT_EQ(run.mirrors[0].Base, published.first);
      if (row.setAside) {
        EXPECT_NE(run.mirrors[0].SetAside.find(row.setAside), std::string::npos) << run.mirrors[0].SetAside;
      }
      // The healthy mirror did the work, and kept at it.
      EXPECT_LT(run.mirrors[0].Bytes, run.mirrors[1].Bytes) << run.log;
      EXPECT_GT(run.mirrors[1].Files, 0) << run.log;
      EXPECT_EQ(run.mirrors[1].SetAside, "");
    }
    ExpectInstalled(folder.Path(), Release);
    fs::remove_all(MirrorState() + "www/" + name);
    fs::remove_all(MirrorState() + "www/" + name + "-stale");
    fs::remove_all(MirrorState() + "other/" + name);
  }
}
