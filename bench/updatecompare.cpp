// The update run's compare on a launcher folder: LoadManifest, LoadState,
// CompareFiles and SaveState, as the update thread runs them.
//   updatecompare FOLDER MANIFEST_NAME [THREADS] [--cold]
// FOLDER holds data\MANIFEST_NAME; --cold deletes the state file first.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/File.h"
#include "update/run/uLaunchThread.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: updatecompare FOLDER MANIFEST_NAME [THREADS] [--cold]\n");
    return 2;
  }
  std::string folder = argv[1];
  if (folder.back() != '/') folder += '/';
  const unsigned threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 2;
  const bool cold = argc > 4 && std::string(argv[4]) == "--cold";
  if (cold) DeleteFileAt(folder + StateFileName(0));
  const auto start = std::chrono::steady_clock::now();
  TUpdateFiles files(folder, "launcher", StateFileName(0), argv[2]);
  files.SetDigestThreads(threads);
  if (!files.LoadManifest()) {
    std::fprintf(stderr, "no manifest\n");
    return 1;
  }
  files.LoadState();
  TDownloadList list;
  const int result = files.CompareFiles(list);
  if (files.StateChanged()) files.SaveState();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("result %d, %zu to fetch, %zu entries, %.3f s\n", result, list.size(), files.StateTable().Count(),
              seconds);
  return 0;
}
