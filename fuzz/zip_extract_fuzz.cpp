// ZIP archives as a download may bring them, extracted for real: local
// headers, stored and deflated data, ZIP64 sizes and CRC-32 checks beyond
// the central directory. No crash; whatever the names say, nothing is
// written outside the destination folder, and no temporary file is left.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz/FuzzTempFolder.h"
#include "platform/File.h"
#include "update/archive/ZipExtract.h"

namespace fs = std::filesystem;

namespace {

// True when the folder holds nothing but `allowed`.
bool OnlyBelow(const fs::path& folder, const fs::path& allowed) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
    if (entry.path() != allowed) return false;
  return true;
}

// A ".unz~" file is a temporary of the extraction unless the archive
// itself names a file so.
bool NoTemporaryFiles(const fs::path& folder, const std::string& archiveBytes) {
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".unz~") == 0 &&
        archiveBytes.find(name) == std::string::npos)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The archive lies beside the destination, two folders down: an entry
  // that climbed out of the destination would appear in one of them.
  const fs::path run = fs::path(FuzzTempFolder()) / "run";
  const fs::path destination = run / "out";
  std::error_code error;
  fs::remove_all(run, error);
  fs::create_directories(destination);
  const std::string archive = (run / "a.zip").string();
  {
    TFileStream file(archive, TFileMode::CreateTruncate);
    file.WriteBuffer(data, size);
  }

  std::string testError;
  TestZipArchive(archive, testError);

  TZipExtractor extractor;
  extractor.Options.DestDir = destination.string() + "/";
  extractor.Options.RecreateDirs = size % 2 == 1;  // both ways, by the length
  extractor.Threads = 1;
  extractor.Extract(archive);

  fs::remove(archive, error);
  if (!OnlyBelow(FuzzTempFolder(), run) || !OnlyBelow(run, destination) || !NoTemporaryFiles(destination, std::string(reinterpret_cast<const char*>(data), size)))
    std::abort();
  return 0;
}
