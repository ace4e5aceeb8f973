// One release from every web server an operator may choose
// (tests/peers/webservers.peer), each held to nginx's figures of the same
// run: a fresh install of many small files and a chunk-indexed pack, the
// chunked update to the next release, and a download stopped part-way and
// finished. Each server's own access log says what it was asked and what it
// answered. The Windows build runs the install and the update against the
// rows marked for it, over SChannel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "common/Md5.h"
#include "e2e/RunFixture.h"
#include "package/LauncherSettings.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "platform/Tls.h"

namespace {

// The peers' folder: one folder per peer script.
std::string PeerState() { return UpdateRoot() + "/../../"; }

struct TServer {
  const char* name;
  bool https;
  int offset;
  const char* log;  // below the peers' folder
  bool ranges;      // answers byte ranges
  bool wine;        // in the Windows build's run too
  std::string Url(const std::string& release) const {
    return (https ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(PortBase() + offset) + "/" +
           release + "/";
  }
};

// nginx first: the others are held to its figures.
const TServer Servers[] = {
    {"nginx", false, 70, "webservers/nginx/access.log", true, true},
    {"apache2", false, 60, "webservers/apache/access.log", true, false},
    {"apache2_https", true, 61, "webservers/apache/access.log", true, true},
    {"lighttpd", false, 62, "webservers/lighttpd/access.log", true, false},
    {"lighttpd_https", true, 63, "webservers/lighttpd/access.log", true, false},
    {"caddy", false, 64, "webservers/caddy/access.log", true, false},
    {"caddy_https", true, 65, "webservers/caddy/access.log", true, true},
    {"h2o", false, 66, "webservers/h2o/access.log", true, false},
    {"h2o_https", true, 67, "webservers/h2o/access.log", true, false},
    // Compresses every answer whose request lets it, as some CDNs do.
    {"nginx_gzip_everything", false, 71, "webservers/nginx/access.log", true, false},
    {"varnish_before_nginx", false, 68, "webservers/varnish/access.log", true, false},
    {"python_http_server", false, 69, "webservers/python/access.log", false, false},
};

constexpr size_t PackSize = 16 << 20;
const std::string PackPath = "data/pack.pak";

// A release: 100 small files for the kept-alive batch and the pack, which
// gets a chunk index; the next one changes 1 % of the pack in 20 places and
// five of the small files.
TFiles Release(bool next) {
  TFiles files;
  for (unsigned i = 0; i < 100; ++i) {
    std::string name = "data/small/f";  // appended, not "literal" + string: GCC 12 warns wrongly there
    name += std::to_string(i) + ".dat";
    files[name] = Bytes(1000 + 70 * i, i + (next && i % 20 == 0 ? 1000 : 0));
  }
  std::string pack = Bytes(PackSize, 7);
  for (size_t k = 0; next && k < 20; ++k) {
    const size_t at = k * (PackSize / 20) + 12345;
    for (size_t i = 0; i < PackSize / 100 / 20; ++i) pack[at + i] = static_cast<char>(~pack[at + i]);
  }
  files[PackPath] = pack;
  return files;
}

struct TRange {
  int64_t first, last;
};

// "bytes=A-B" or "bytes=A-" of the pack; nothing else.
std::optional<TRange> ParseRange(const std::string& header) {
  const std::string unit = "bytes=";
  long long first = 0, last = PackSize - 1;
  if (header.size() < unit.size() ||
      !std::equal(unit.begin(), unit.end(), header.begin(),
                  [](char u, char h) { return u == std::tolower(static_cast<unsigned char>(h)); }) ||
      std::sscanf(header.c_str() + unit.size(), "%lld-%lld", &first, &last) < 1)
    return std::nullopt;
  return TRange{first, last};
}

int64_t Length(const std::vector<TRange>& ranges) {
  int64_t bytes = 0;
  for (const TRange& range : ranges) bytes += range.last - range.first + 1;
  return bytes;
}

// What a server's log says it answered for one release after an offset:
// '... "GET /path HTTP/1.1" STATUS BYTES "RANGE"' lines, or caddy's JSON
// objects.
struct TAnswers {
  int requests = 0;
  int partial = 0;  // 206
  int failed = 0;   // neither 200 nor 206
  int packAnswers = 0;
  int64_t packBytes = 0;           // the pack and its index; the python server logs none
  std::vector<TRange> packRanges;  // what the pack's requests asked for
};

TAnswers AnswersSince(const TServer& server, size_t offset, const std::string& release) {
  std::string log = ReadWholeFile(PeerState() + server.log);
  log.resize(log.rfind('\n') + 1);  // a line being written is no answer yet
  std::istringstream lines(log.substr(std::min(offset, log.size())));
  TAnswers answers;
  for (std::string line; std::getline(lines, line);) {
    std::string path, range;
    int status = 0;
    int64_t bytes = 0;
    if (line.rfind('{', 0) == 0) {
      const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
      if (!entry.is_object() || !entry.contains("request")) continue;
      const nlohmann::json& request = entry["request"];
      path = request.value("uri", "");
      if (request.contains("headers") && request["headers"].contains("Range"))
        range = request["headers"]["Range"][0].get<std::string>();
      status = entry.value("status", 0);
      bytes = entry.value("size", int64_t{0});
    } else {
      const size_t open = line.find('"'), close = line.find('"', open + 1);
      if (close == std::string::npos) continue;
      std::istringstream request(line.substr(open + 1, close - open - 1)), rest(line.substr(close + 1));
      std::string method, sizeText;
      request >> method >> path;
      rest >> status >> sizeText >> std::quoted(range);
      bytes = std::atoll(sizeText.c_str());
    }
    // The releases have no full package: its 404 is the right answer.
    if (path.rfind("/" + release + "/", 0) != 0 || path.find("/complete/") != std::string::npos) continue;
    ++answers.requests;
    if (status == 206) ++answers.partial;
    if (status != 200 && status != 206) ++answers.failed;
    if (path.find(PackPath) == std::string::npos) continue;
    ++answers.packAnswers;
    answers.packBytes += bytes;
    if (const auto asked = ParseRange(range); asked && path.find(".chunks") == std::string::npos)
      answers.packRanges.push_back(*asked);
  }
  return answers;
}

size_t LogSize(const TServer& server) { return ReadWholeFile(PeerState() + server.log).size(); }

// Polls the log until `ready` holds: servers write a line after the answer,
// some only once they find the connection closed, varnishncsa from shared
// memory. The last reading either way.
template <typename TReady>
TAnswers WaitForAnswers(const TServer& server, size_t offset, const std::string& release, TReady ready) {
  const uint32_t start = GetTickCount32();
  for (;;) {
    const TAnswers answers = AnswersSince(server, offset, release);
    if (ready(answers) || GetTickCount32() - start > 30000) return answers;
    SleepMs(50);
  }
}

TUpdateEnvironment Uncapped(const std::string& folder) {
  TUpdateEnvironment environment = Environment(folder);
  environment.MaxSpeed = 0;
  return environment;
}

// A fresh install from `base` at `maxSpeed` KB/s, stopped as soon as a
// quarter of the pack is on the disk; false when the run ended first.
bool StoppedPartWay(const std::string& folder, const std::string& base, int maxSpeed) {
  TUpdateEnvironment environment = Environment(folder);
  environment.MaxSpeed = maxSpeed;
  TRunSink sink;
  TUpdateThread thread(sink, 0, StateFileName(0), ClientManifestName, base, environment);
  const auto quarter = [&] {
    for (const TRunSink::TMessage& m : sink.Messages(UM_CURRENT_PROGRESS))
      if (m.lParam == static_cast<intptr_t>(PackSize) && m.wParam >= PackSize / 4) return true;
    return false;
  };
  bool ended = false;
  const uint32_t start = GetTickCount32();
  while (!ended && !quarter() && GetTickCount32() - start < 120000) {
    sink.Progress.WaitFor(1000);
    ended = sink.Done.WaitFor(0);
  }
  const bool stopped = !ended && quarter() && !sink.Done.WaitFor(0);
  thread.TerminateAndWait();
  return stopped;
}

// The missing ranges a resume file lists ("ChunkNNN=first-last").
std::vector<TRange> MissingRanges(const std::string& resumeFile) {
  std::istringstream lines(FileExists(resumeFile) ? ReadWholeFile(resumeFile) : "");
  std::vector<TRange> missing;
  for (std::string line; std::getline(lines, line);) {
    long long first = 0, last = 0;
    if (line.rfind("Chunk", 0) == 0 && std::sscanf(line.c_str() + line.find('=') + 1, "%lld-%lld", &first, &last) == 2)
      missing.push_back({first, last});
  }
  return missing;
}

bool Within(const TRange& range, const std::vector<TRange>& ranges) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](const TRange& r) { return range.first >= r.first && range.last <= r.last; });
}

// What nginx sent of the pack for the chunked update, measured once a run.
std::optional<int64_t> NginxChunkedBytes;

class TServerMatrix : public ::testing::TestWithParam<TServer> {
protected:
  static void SetUpTestSuite() {
    // Natively; the Windows build trusts the Wine prefix's store (trust-test-ca).
    TlsTrustCaFile(PeerState() + "tlsserver/ca.pem");
    Publish("matrixA", Release(false));
    Publish("matrixB", Release(true));
    // The download stopped and finished has a release of its own, so that
    // no answer of the other steps counts as its.
    Publish("matrixR", {{PackPath, Release(true).at(PackPath)}});
  }

  // Installs release A into a fresh folder from `server`, then updates it
  // to release B: what the server sent of the pack for the update.
  int64_t InstallAndUpdate(const TServer& server) {
    const TFiles first = Release(false), next = Release(true);
    TTempFolder player;
    size_t offset = LogSize(server);
    TRun install;
    RunUpdate(install, player.Path(), server.Url("matrixA"), 0, 180000, Uncapped(player.Path()));
    EXPECT_EQ(install.result, 1u) << server.name << "\n" << install.log;
    ExpectInstalled(player.Path(), first);
    TAnswers answers = WaitForAnswers(server, offset, "matrixA", [&](const TAnswers& a) {
      return a.requests > static_cast<int>(first.size()) && (!server.ranges || a.packBytes >= int64_t(PackSize));
    });
    EXPECT_GT(answers.requests, static_cast<int>(first.size())) << server.name;
    EXPECT_EQ(answers.failed, 0) << server.name;
    if (server.ranges) {
      // In ranges; a server sends a little past a range that another worker
      // took over before the connection closed.
      EXPECT_GE(answers.partial, 2) << server.name;
      EXPECT_GE(answers.packBytes, int64_t(PackSize)) << server.name;
      EXPECT_LE(answers.packBytes, int64_t(PackSize) * 3 / 2) << server.name;
    } else {
      EXPECT_EQ(answers.partial, 0) << server.name;
    }
    const int installRanges = answers.partial;

    offset = LogSize(server);
    TRun update;
    RunUpdate(update, player.Path(), server.Url("matrixB"), 0, 180000, Uncapped(player.Path()));
    EXPECT_EQ(update.result, 1u) << server.name << "\n" << update.log;
    ExpectInstalled(player.Path(), next);
    if (!server.ranges) {
      EXPECT_NE(update.log.find("chunked update not used"), std::string::npos) << server.name << "\n" << update.log;
      return 0;
    }
    const size_t said = update.log.find(" bytes reused, ");
    EXPECT_NE(said, std::string::npos) << server.name << "\n" << update.log;
    const int64_t fetched = said == std::string::npos ? 0 : std::atoll(update.log.c_str() + said + 15);
    answers = WaitForAnswers(server, offset, "matrixB", [&](const TAnswers& a) { return a.packBytes > fetched; });
    EXPECT_EQ(answers.failed, 0) << server.name;
    EXPECT_GE(answers.partial, 20) << server.name;
    EXPECT_LT(answers.packBytes, int64_t(PackSize / 10)) << server.name;
    std::printf("[ matrix   ] %-21s install: %d ranges; update: %lld bytes of the pack in %d ranges\n", server.name,
                installRanges, static_cast<long long>(answers.packBytes), answers.partial);
    return answers.packBytes;
  }

  // A fresh install stopped once a quarter of the pack was on the disk
  // (from the update server's nginx at 512 KB/s a connection), finished
  // from `server`: it asks only for the missing ranges, or, from a server
  // without ranges, takes the whole file again; the pack ends right and no
  // resume file stays.
  void StopAndFinish(const TServer& server) {
    const std::string pack = Release(true).at(PackPath);
    TTempFolder player;
    ASSERT_TRUE(StoppedPartWay(player.Path(), HttpUrl(5) + "crawl/matrixR/", 4096)) << server.name;
    ASSERT_FALSE(FileExists(player / PackPath)) << server.name;
    const std::vector<TRange> missing = MissingRanges(player / (PackPath + ".!dl"));
    ASSERT_GT(Length(missing), 0) << server.name;
    ASSERT_LE(Length(missing), int64_t(PackSize) * 3 / 4) << server.name;

    const size_t offset = LogSize(server);
    TRun run;
    RunUpdate(run, player.Path(), server.Url("matrixR"), 0, 180000, Uncapped(player.Path()));
    EXPECT_EQ(run.result, 1u) << server.name << "\n" << run.log;
    EXPECT_EQ(MD5OfFile(player / PackPath), MD5OfMemory(pack)) << server.name;
    EXPECT_FALSE(FileExists(player / (PackPath + ".!dl"))) << server.name;
    EXPECT_FALSE(FileExists(player / (PackPath + ".!tmp"))) << server.name;
    const TAnswers answers = WaitForAnswers(server, offset, "matrixR", [&](const TAnswers& a) {
      return server.ranges ? a.packBytes >= Length(missing) : a.packAnswers > 0;
    });
    EXPECT_EQ(answers.failed, 0) << server.name;
    if (!server.ranges) {
      EXPECT_EQ(answers.partial, 0) << server.name;
      return;
    }
    // Apart from the one-byte probe, every range asked for was missing.
    EXPECT_GE(answers.partial, 2) << server.name;
    int probes = 0;
    for (const TRange& asked : answers.packRanges) {
      if (asked.first == 0 && asked.last == 0 && probes++ == 0) continue;
      EXPECT_TRUE(Within(asked, missing)) << server.name << ": asked for " << asked.first << "-" << asked.last;
    }
  }
};

// Every row natively; the Windows build's rows there.
std::vector<TServer> Rows() {
  std::vector<TServer> rows;
  for (const TServer& server : Servers)
#ifdef _WIN32
    if (server.wine)
#endif
      rows.push_back(server);
  return rows;
}

}  // namespace

// Every server installs and updates the release right; those with ranges
// send the pack in ranges, and for the update within 10 % of the bytes
// nginx sends; a download stopped part-way goes on from where it stopped.
TEST_P(TServerMatrix, InstallsUpdatesInChunksAndFinishesAStoppedDownload) {
  const TServer& server = GetParam();
  if (!NginxChunkedBytes) NginxChunkedBytes = InstallAndUpdate(Servers[0]);
  const int64_t bytes = server.offset == Servers[0].offset ? *NginxChunkedBytes : InstallAndUpdate(server);
  if (server.ranges) {
    EXPECT_GE(bytes, *NginxChunkedBytes * 9 / 10) << server.name;
    EXPECT_LE(bytes, *NginxChunkedBytes * 11 / 10) << server.name;
  }
#ifndef _WIN32
  StopAndFinish(server);
#endif
}

INSTANTIATE_TEST_SUITE_P(Servers, TServerMatrix, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<TServer>& info) { return std::string(info.param.name); });
