// Update runs over https against nginx with TLS (tests/peers/tlsserver.peer):
// which servers are trusted and which refused, redirects between the
// schemes, records in 1-byte pieces, kept connections and the rate cap.
// Natively the test CA is trusted through TlsTrustCaFile; the Windows build
// finds it in the Wine prefix's Root store (trust-test-ca).
#include <gtest/gtest.h>

#include "common/Md5.h"
#include "e2e/RunFixture.h"
#include "http/HttpBatch.h"
#include "http/HttpDownload.h"
#include "http/cHttpSend.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "platform/Tls.h"

namespace {

std::string TlsState() { return UpdateRoot() + "/../../tlsserver/"; }

std::string Https(int offset) { return "https://localhost:" + std::to_string(PortBase() + offset) + "/"; }

// Offsets of the TLS peer's servers.
enum : int {
  GoodServer = 40,
  OtherName = 41,
  Expired = 42,
  Untrusted = 43,
  ToHttps = 44,
  ToHttp = 45,
  BytePieces = 46,
  CutServer = 47,
};

class TTlsRun : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // Natively the tools' --ca-file does this; the Windows build trusts the
    // prefix's store, where the CA already is.
    TlsTrustCaFile(TlsState() + "ca.pem");
  }
};

// A small release: files for the kept-alive batch and one for the ranges.
TFiles Release() {
  return {{"Client.bin", Bytes(100000, 1)}, {"data/a.txt", Bytes(4096, 2)}, {"data/big.pak", Bytes(2100000, 3)}};
}

// Runs an update of `folder` from `base` at most `maxSpeed` KiB/s (-1:
// launcher.ini's); the run's result (1 success).
int RunCapped(TRun& run, const std::string& folder, const std::string& base, int maxSpeed = 0) {
  TUpdateEnvironment environment = Environment(folder);
  environment.MaxSpeed = maxSpeed;
  RunUpdate(run, folder, base, 0, 120000, environment);
  return static_cast<int>(run.result);
}

// Requests of the TLS peer's connection log after `offset`.
TServed TlsServedSince(size_t offset, const std::string& prefix) {
  return ServedSince(TlsState() + "connections.log", offset, prefix);
}

size_t TlsLogSize() { return LogSize(TlsState() + "connections.log"); }

}  // namespace

// One release, reached through each server of the TLS peer: the good one
// directly, through the 1-byte proxy and through an http URL that nginx
// redirects to https install it; a certificate for another name, an expired
// one and one of a CA nobody trusts are refused before any request, with the
// manifest's own status line, a line naming the reason in the debug output
// and in UpdateLog.txt, and nothing written; a redirect from https to plain http is refused as a downgrade.
TEST_F(TTlsRun, EachServerIsTrustedOrRefused) {
  const TFiles files = Release();
  Publish("tlsrun", files);
  const struct {
    std::string base;
    bool installs;
    const char* logged;  // a log line holds this
  } cases[] = {
      {Https(GoodServer), true, ""},
      {Https(BytePieces), true, ""},
      {HttpUrl(ToHttps), true, ""},
      {"HTTPS://localhost:" + std::to_string(PortBase() + GoodServer) + "/", true, ""},
      {Https(OtherName), false, "certificate refused (name mismatch) for host localhost, subject "},
      {Https(Expired), false, "certificate refused (expired) for host localhost, subject "},
      {Https(Untrusted), false, "certificate refused (untrusted root) for host localhost, subject "},
      {Https(ToHttp), false, "refused: a downgrade from https to http"},
  };
  for (const auto& c : cases) {
    const std::string base = c.base + "tlsrun/";
    TTempFolder folder;
    TLogCapture capture;
    TRun run;
    const int result = RunCapped(run, folder.Path(), base);
    if (c.installs) {
      EXPECT_EQ(result, 1) << base;
      for (const auto& [path, bytes] : files) EXPECT_EQ(MD5OfFile(folder / path), MD5OfMemory(bytes)) << base << path;
      continue;
    }
    EXPECT_EQ(result, 0) << base;
    EXPECT_TRUE(run.sink.StatusStartsWith(Utf8ToCp936("#100 : 下载配置文件失败，请检查网络。 "))) << base;
    EXPECT_GE(capture.CountContaining(c.logged), 1) << base;
    EXPECT_NE(ReadWholeFile(folder / "UpdateLog.txt").find(c.logged), std::string::npos) << base;
    EXPECT_FALSE(FileExists(folder / "data/update0.local")) << base;
    for (const auto& [path, bytes] : files) EXPECT_FALSE(FileExists(folder / path)) << base << path;
  }
}

// A body without a length ends with the connection: over TLS only a
// close_notify ends it well; a connection closed without one is cut, and
// the document fails instead of being taken short.
TEST_F(TTlsRun, OnlyCloseNotifyEndsABodyWithoutLength) {
  const struct {
    const char* path;
    bool taken;
  } cases[] = {{"clean", true}, {"cut", false}};
  for (const auto& c : cases) {
    THttpGetDocument document;
    EXPECT_EQ(document.Get(Https(CutServer) + c.path, ""), c.taken) << c.path;
    // 2000 lines "line N of a body without a length\n": 72,890 bytes.
    EXPECT_EQ(document.Body().size(), c.taken ? 72890u : 0u) << c.path;
  }
}

// The ranged engine follows a file's redirect from http to https and
// refuses one from https to http, with the downgrade named in its error.
TEST_F(TTlsRun, FileRedirectsGoUpButNeverDown) {
  const std::string content = Bytes(1500000, 21);
  Publish("tlsmoved", {{"moved.bin", content}});
  const struct {
    std::string url;
    TDownloadOutcome outcome;
  } cases[] = {{HttpUrl(ToHttps) + "tlsmoved/moved.bin", TDownloadOutcome::Done},
               {Https(ToHttp) + "tlsmoved/moved.bin", TDownloadOutcome::Failed}};
  for (const auto& c : cases) {
    TTempFolder folder;
    THttpDownload download(5);
    EXPECT_EQ(RunDownload(download, c.url, folder.Path(), static_cast<int64_t>(content.size()), [] { return true; }),
              c.outcome)
        << c.url;
    if (c.outcome == TDownloadOutcome::Done) {
      EXPECT_EQ(MD5OfFile(folder / "moved.bin"), MD5OfMemory(content)) << c.url;
    } else {
      EXPECT_NE(download.ErrorText().find("refused: a downgrade from https to http"), std::string::npos)
          << download.ErrorText();
      EXPECT_FALSE(FileExists(folder / "moved.bin")) << c.url;
    }
  }
}

// Over TLS the kept-alive batch serves many small files on at most its five
// connections, sending requests ahead of the answers, and the range workers
// carry their next range on the connection of the last one: handshakes per
// connection, not per file.
TEST_F(TTlsRun, ConnectionsAreKeptAcrossFilesAndRanges) {
  TFiles small;
  for (int i = 0; i < 30; ++i) small["s" + std::to_string(i) + ".bin"] = Bytes(16384, 100 + i);
  const std::string big = Bytes(6 * 1024 * 1024, 9);
  TFiles release = small;
  release["big.bin"] = big;
  Publish("tlskept", release);
  const std::string base = Https(GoodServer) + "tlskept/";

  size_t offset = TlsLogSize();
  TTempFolder folder;
  {
    THttpBatch batch;
    FetchAll(batch, small, base, folder.Path());
    EXPECT_LE(batch.ConnectionsOpened(), BatchConnections);
    EXPECT_GT(batch.RequestsSentAhead(), 0);
  }
  TServed served = TlsServedSince(offset, "GET /tlskept/s");
  EXPECT_EQ(served.requests, 30);
  EXPECT_LE(served.connections, BatchConnections);

  offset = TlsLogSize();
  TLogCapture capture;
  {
    THttpDownload download(5);
    download.SetExpectedDigest(MD5OfMemory(big));
    EXPECT_EQ(RunDownload(download, base + "big.bin", folder.Path(), static_cast<int64_t>(big.size()),
                          [] { return true; }),
              TDownloadOutcome::Done);
  }
  EXPECT_EQ(MD5OfFile(folder / "big.bin"), MD5OfMemory(big));
  served = TlsServedSince(offset, "GET /tlskept/big.bin");
  const int cuts = capture.CountContaining("# -> ");
  EXPECT_GE(served.requests, 10);
  EXPECT_LE(served.connections, 6 + cuts) << cuts << " cut(s)";
  EXPECT_LT(served.connections, served.requests);
}

// The cap holds over all connections of a run, plain and TLS, whether it
// comes from launcher.ini's "maxspeed" or from the caller: a run capped at
// 2 MiB/s never goes faster.
TEST_F(TTlsRun, TheRateCapHoldsOnPlainAndTlsConnections) {
  const TFiles files = {{"capped.bin", Bytes(5 * 1024 * 1024, 77)}};
  Publish("tlscap", files);
  const int capKBps = 2048;
  const struct {
    std::string base;
    bool fromIni;
  } cases[] = {{HttpUrl(5), true}, {Https(GoodServer), false}};
  for (const auto& c : cases) {
    TTempFolder folder;
    if (c.fromIni) WriteWholeFile(folder / "launcher.ini", "[Main]\r\nmaxspeed=" + std::to_string(capKBps) + "\r\n");
    TRun run;
    const uint32_t start = GetTickCount32();
    EXPECT_EQ(RunCapped(run, folder.Path(), c.base + "tlscap/", c.fromIni ? -1 : capKBps), 1) << c.base;
    const double seconds = (GetTickCount32() - start) / 1000.0;
    EXPECT_EQ(MD5OfFile(folder / "capped.bin"), MD5OfMemory(files.at("capped.bin"))) << c.base;
    const double rate = 5 * 1024.0 / seconds;
    // Only the upper bound holds on a loaded machine too; how close the
    // rate comes to the cap is bench/tls.sh's figure.
    EXPECT_LE(rate, capKBps * 1.1) << c.base << ": " << rate << " KiB/s";
  }
}
