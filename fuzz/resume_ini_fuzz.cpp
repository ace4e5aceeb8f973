// The ".!dl" resume file of a download, as a damaged or hostile file may
// hold it: loading never crashes and never yields a range outside the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzTempFolder.h"
#include "http/DownloadChunk.h"
#include "platform/File.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzTempFolder() + "file.!dl";
  {
    TFileStream file(path, TFileMode::CreateTruncate);
    file.WriteBuffer(data, size);
  }
  const int64_t fileSize = 1 + static_cast<int64_t>(size) * 977;
  TDownLoadChunk chunks(path);
  if (chunks.LoadFromResume(fileSize) > 0) {
    for (const TByteRange& range : chunks.Ranges())
      if (range.start < 0 || range.end < range.start || range.end >= fileSize) std::abort();
    chunks.Split(5);
    TByteRange taken;
    while (chunks.Take(taken)) {
    }
  }
  return 0;
}
