// The chunk index parser: any bytes are refused or give an index whose chunk
// lengths are within bounds and add up to its file size; a parsed index
// written again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/chunks/ChunkIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TChunkIndexLimits limits;
  limits.MaxBytes = 1 << 20;
  limits.MaxChunks = 1 << 16;
  TChunkIndex index;
  std::string error;
  if (!ParseChunkIndex(data, size, limits, index, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  uint64_t sum = 0;
  for (const TIndexChunk& chunk : index.Chunks) {
    if (chunk.Length == 0 || chunk.Length > index.Params.MaxSize) std::abort();
    sum += chunk.Length;
  }
  if (sum != static_cast<uint64_t>(index.FileSize)) std::abort();
  if (WriteChunkIndex(index) != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
  return 0;
}
