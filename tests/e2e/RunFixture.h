// What every end-to-end suite shares: where the peers listen, releases
// published under the update server's root by the manifest tool, one update
// run on its own thread with all that the window was told, and the
// servers' own logs of what they sent.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/WindowMessages.h"
#include "http/HttpBatch.h"
#include "platform/Thread.h"
#include "support/TestSupport.h"
#include "update/manifest/SignedDocuments.h"
#include "update/run/UpdateThread.h"

int PortBase();
// The update server's root (www); its logs sit one folder up.
std::string UpdateRoot();
// http://127.0.0.1:<port base + offset>/
std::string HttpUrl(int offset);
// The update server (port base + 5).
std::string ServerUrl();

// Status texts travel in code page 936: expectations are written in UTF-8
// and compared as code page 936 bytes.
std::string Cp936(const char* utf8);

using TFiles = std::map<std::string, std::string>;  // release path ("data/x.pak") -> bytes

// `size` pseudo-random bytes, the same for the same seed.
std::string Bytes(size_t size, unsigned seed);

// Publishes a release under the server's root with launcher-manifest and
// its `flags`; its base URL on the update server (with a trailing slash).
std::string Publish(const std::string& name, const TFiles& files, const std::vector<std::string>& flags = {});
// The same below another server's root (a mirror's).
void PublishInto(const std::string& root, const std::string& name, const TFiles& files,
                 const std::vector<std::string>& flags = {});

void ExpectInstalled(const std::string& folder, const TFiles& files);

// Hands every file to `batch` (`url` + its path, to `folder` + its path,
// with its size and digest) and expects each done within 30 s.
void FetchAll(THttpBatch& batch, const TFiles& files, const std::string& url, const std::string& folder);

// What the window would receive.
class TRunSink : public TMessageSink {
public:
  struct TMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  std::vector<std::string> Statuses();
  std::vector<TMessage> Messages(uint32_t message);
  bool Showed(const std::string& status);
  bool StatusStartsWith(const std::string& prefix);
  std::string Last();
  // A file bar that reached its end at least once.
  bool FileBarFull();
  TEvent Done, Progress;

private:
  std::mutex FLock;
  std::vector<std::string> FStatuses;
  std::vector<TMessage> FMessages;
};

// One update run: what the thread and the window were left with.
struct TRun {
  bool posted = false;  // the done message came within the limit
  uintptr_t result = 99;
  intptr_t mode = -1;
  int stillWrong = -2;
  uint32_t elapsedMs = 0;
  bool refused = false;
  TSignatureVerdict verdict = TSignatureVerdict::Accepted;
  std::string log;  // UpdateLog.txt after the run
  std::vector<TMirrorReport> mirrors;  // what each base address delivered
  TRunSink sink;
};

TUpdateEnvironment Environment(const std::string& folder);

// Runs mode `mode` (0 client, 1 launcher) of `folder` from `baseUrl` until
// its done message or `limitMs`; an empty environment is Environment(folder).
void RunUpdate(TRun& run, const std::string& folder, const std::string& baseUrl, int mode = 0,
               uint32_t limitMs = 120000, const TUpdateEnvironment& environment = TUpdateEnvironment());

// The update server's nginx logs: access.log ("combined") and
// connections.log (see ServedSince).
std::string AccessLogPath();
std::string ConnectionLogPath();
size_t LogSize(const std::string& path);
// The answers in the update server's access log after `offset` whose line
// holds every one of `parts`: how many, and the body bytes nginx sent.
struct TAccessTotals {
  int answers = 0;
  int64_t sent = 0;
};
TAccessTotals AccessSince(size_t offset, const std::vector<std::string>& parts);
// The update server's connection log after `offset`.
TServed ServedSince(size_t offset, const std::string& prefix);
