// launcher-fetch URL FOLDER [--workers N] [--expect-size BYTES] [--ca-file PEM]
//                [--limit-rate KBPS]
// Downloads one file ("http://" or "https://") with the launcher's download
// engine, printing progress twice a second. The file is stored under the
// URL's own file name, whatever the server answers. --ca-file trusts the CA
// certificates of a PEM file besides the system's; --limit-rate caps the
// download at KBPS kilobytes per second over all its connections. Exits 0
// only when the engine reported done and the file is
// in FOLDER. Ctrl-C stops the download and keeps its resume information.
// URL may name the same file on several mirrors, joined by "|" ("http://a/
// f.bin|http://b/f.bin"): the engine spreads the file over them and prints
// what each delivered.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/PathUtils.h"
#include "http/HttpDownload.h"
#include "http/MirrorSet.h"
#include "http/RateLimiter.h"
#include "platform/Arguments.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "platform/Tls.h"

namespace {

std::atomic<bool> Interrupted{false};

void OnSignal(int) { Interrupted = true; }

int Usage() {
  std::fprintf(stderr, "usage: launcher-fetch URL FOLDER [--workers N] [--expect-size BYTES] [--ca-file PEM] "
                       "[--limit-rate KBPS]\n");
  return 2;
}

void PrintProgress(const THttpDownload& download, uint32_t elapsedMs) {
  const double seconds = elapsedMs > 0 ? elapsedMs / 1000.0 : 0.001;
  const double received = static_cast<double>(download.BytesReceived() - download.ResumedBytes());
  std::printf("received %lld written %lld of %lld bytes, %.1f MiB/s\n",
              static_cast<long long>(download.BytesReceived()), static_cast<long long>(download.BytesWritten()),
              static_cast<long long>(download.TotalSize()), received / seconds / (1024.0 * 1024.0));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = ProgramArguments(argc, argv);
  if (args.size() < 2 || TMirrorSet::SplitBases(args[0]).empty()) return Usage();
  const std::string url = args[0];
  std::string folder = Utf8ToCp936(args[1]);
  int workers = 5;
  long long expected = UnknownDownloadSize, limitRate = 0;
  std::string caFile;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--workers" && i + 1 < args.size()) workers = std::atoi(args[++i].c_str());
    else if (args[i] == "--expect-size" && i + 1 < args.size() && args[i + 1][0] != '-')
      expected = std::atoll(args[++i].c_str());
    else if (args[i] == "--ca-file" && i + 1 < args.size()) caFile = args[++i];
    else if (args[i] == "--limit-rate" && i + 1 < args.size()) limitRate = std::atoll(args[++i].c_str());
    else return Usage();
  }
  if (workers < 1 || workers > 32 || limitRate < 0) return Usage();
  if (!caFile.empty() && !TlsTrustCaFile(caFile)) {
    std::fprintf(stderr, "launcher-fetch: no CA certificate in %s (this build trusts the system's store only)\n",
                 caFile.c_str());
    return 2;
  }

  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  TDownloadOptions options;
  options.Worker.Limiter = std::make_shared<TRateLimiter>(limitRate * 1024);
  std::string bases;
  for (const std::string& each : TMirrorSet::SplitBases(url)) {
    if (!bases.empty()) bases += '|';
    bases += each.substr(0, each.find_last_of('/'));
  }
  options.Worker.Mirrors = std::make_shared<TMirrorSet>(bases);
  options.Worker.Mirrors->SetLog([](const std::string& line) { std::printf("%s\n", line.c_str()); });
  THttpDownload download(workers, options);
  const uint32_t start = GetTickCount32();
  uint32_t lastPrint = start;
  const TDownloadOutcome outcome = RunDownload(download, TMirrorSet::SplitBases(url).front(), folder, expected, [&] {
    if (GetTickCount32() - lastPrint >= 500) {
      lastPrint = GetTickCount32();
      PrintProgress(download, lastPrint - start);
    }
    return !Interrupted;
  });
  if (outcome == TDownloadOutcome::NotStarted) {
    std::fprintf(stderr, "the download did not start\n");
    return 1;
  }
  PrintProgress(download, GetTickCount32() - start);
  if (outcome == TDownloadOutcome::Stopped) {
    std::printf("stopped; the download resumes from here next time\n");
    return 130;
  }
  if (outcome == TDownloadOutcome::Failed) {
    std::printf("error: %s\n", download.ErrorText().c_str());
    return 1;
  }
  const std::string target = download.TargetPath();
  if (!FileExists(target)) {
    std::printf("error: the engine finished but %s is missing\n", Cp936ToUtf8(target).c_str());
    return 1;
  }
  for (const TMirrorReport& report : options.Worker.Mirrors->Reports())
    if (options.Worker.Mirrors->Count() > 1)
      std::printf("mirror %s: %lld bytes%s%s\n", report.Base.c_str(), static_cast<long long>(report.Bytes),
                  report.SetAside.empty() ? "" : ", set aside: ", report.SetAside.c_str());
  std::printf("done: %s (%lld bytes, %lld resumed)\n", Cp936ToUtf8(target).c_str(), static_cast<long long>(GetFileSize(target)),
              static_cast<long long>(download.ResumedBytes()));
  return 0;
}
