// The full package extraction: every entry below DEST with its folders.
//   extractzip ARCHIVE DEST [THREADS]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "update/archive/ZipExtract.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: extractzip ARCHIVE DEST [THREADS]\n");
    return 2;
  }
  TZipExtractor extractor;
  extractor.Options.DestDir = argv[2];
  extractor.Options.RecreateDirs = true;
  extractor.Threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 2;
  const int files = extractor.Extract(argv[1]);
  std::printf("%d files\n", files);
  return files > 0 ? 0 : 1;
}
