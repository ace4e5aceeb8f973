// launcher-fetch URL FOLDER [--workers N] [--expect-size BYTES]
// Downloads one file with the launcher's download engine, printing progress
// twice a second. The file is stored under the URL's own file name, whatever
// the server answers. Exits 0 only when the engine reported done and the file is
// in FOLDER. Ctrl-C stops the download and keeps its resume information.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/PathUtils.h"
#include "http/HttpDownload.h"
#include "platform/File.h"
#include "platform/Tick.h"

namespace {

std::atomic<bool> Interrupted{false};

void OnSignal(int) { Interrupted = true; }

int Usage() {
  std::fprintf(stderr, "usage: launcher-fetch URL FOLDER [--workers N] [--expect-size BYTES]\n");
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
  if (argc < 3) return Usage();
  const std::string url = argv[1];
  std::string folder = argv[2];
  int workers = 5;
  long long expected = UnknownDownloadSize;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--workers") == 0 && i + 1 < argc) workers = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--expect-size") == 0 && i + 1 < argc && argv[i + 1][0] != '-')
      expected = std::atoll(argv[++i]);
    else return Usage();
  }
  if (workers < 1 || workers > 32) return Usage();
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  THttpDownload download(workers);
  const uint32_t start = GetTickCount32();
  uint32_t lastPrint = start;
  const TDownloadOutcome outcome = RunDownload(download, url, folder, expected, [&] {
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
    std::printf("error: the engine finished but %s is missing\n", target.c_str());
    return 1;
  }
  std::printf("done: %s (%lld bytes, %lld resumed)\n", target.c_str(), static_cast<long long>(GetFileSize(target)),
              static_cast<long long>(download.ResumedBytes()));
  return 0;
}
