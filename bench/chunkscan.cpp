// The local scan of a chunked update: cuts a file into chunks as the update
// does (one sequential read, chunker and chunk hashes) and prints MB/s of
// the whole scan and of the chunker alone on the data held in memory.
//   chunkscan FILE
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/File.h"
#include "update/ChunkAssembly.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: chunkscan FILE\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  const auto seconds = [](Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); };
  std::vector<TOldChunk> chunks;
  const auto scanStart = Clock::now();
  if (!ScanChunks(argv[1], DefaultChunkParams(), nullptr, chunks)) {
    std::fprintf(stderr, "chunkscan: cannot read %s\n", argv[1]);
    return 1;
  }
  const double scan = seconds(scanStart);
  const int64_t size = GetFileSize(argv[1]);
  std::vector<uint8_t> data(static_cast<size_t>(std::min<int64_t>(size, 256 << 20)));
  TFileStream(argv[1], TFileMode::ReadShared).ReadBuffer(data.data(), data.size());
  TChunker chunker(DefaultChunkParams());
  size_t cuts = 0, at = 0;
  const auto cutStart = Clock::now();
  while (at < data.size()) {
    bool ended = false;
    at += chunker.Feed(data.data() + at, data.size() - at, ended);
    cuts += ended;
  }
  const double cut = seconds(cutStart);
  std::printf("scan %.0f MB/s (%zu chunks, average %.0f bytes); chunker alone %.0f MB/s (%zu cuts)\n",
              static_cast<double>(size) / scan / 1e6, chunks.size(),
              static_cast<double>(size) / static_cast<double>(chunks.size() ? chunks.size() : 1),
              static_cast<double>(data.size()) / cut / 1e6, cuts);
  return 0;
}
