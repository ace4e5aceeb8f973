#include "update/chunks/ChunkIndex.h"

#include <algorithm>
#include <cstring>
#include <new>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

const char Magic[8] = {'L', 'C', 'H', 'U', 'N', 'K', 'I', 'X'};
constexpr size_t HeaderBytes = 8 + 4 * 5 + 8 * 2 + 8 * 256 + 8 + 16 + 8;
constexpr size_t RecordBytes = 4 + 16;

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

TChunkParams MakeDefaultParams() {
  TChunkParams params;
  params.MaskSmall = ~0ull << (64 - 16);
  params.MaskLarge = ~0ull << (64 - 12);
  uint64_t state = 0x4C61756E63686572ull;
  for (uint64_t& gear : params.Gear) gear = SplitMix(state);
  return params;
}

void Put32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
void Put64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// Reads from a bounded buffer; every read is checked against its end.
struct TReader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint32_t Get32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(data[at + i]) << (8 * i);
    at += 4;
    return value;
  }
  uint64_t Get64() {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(data[at + i]) << (8 * i);
    at += 8;
    return value;
  }
  void Bytes(uint8_t* out, size_t count) {
    std::memcpy(out, data + at, count);
    at += count;
  }
};

bool Fail(std::string& error, const char* text) {
  error = text;
  return false;
}

}  // namespace

const TChunkParams& DefaultChunkParams() {
  static const TChunkParams params = MakeDefaultParams();
  return params;
}

TChunkDigest ChunkDigest(const void* data, size_t length) {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits(data, length));
  TChunkDigest digest;
  std::memcpy(digest.data(), canonical.digest, digest.size());
  return digest;
}

TChunkHasher::TChunkHasher() : FState(XXH3_createState()) {
  if (!FState) throw std::bad_alloc();
  Reset();
}

TChunkHasher::~TChunkHasher() { XXH3_freeState(static_cast<XXH3_state_t*>(FState)); }

void TChunkHasher::Reset() { XXH3_128bits_reset(static_cast<XXH3_state_t*>(FState)); }

void TChunkHasher::Update(const void* data, size_t length) {
  XXH3_128bits_update(static_cast<XXH3_state_t*>(FState), data, length);
}

TChunkDigest TChunkHasher::Digest() const {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(static_cast<XXH3_state_t*>(FState)));
  TChunkDigest digest;
  std::memcpy(digest.data(), canonical.digest, digest.size());
  return digest;
}

// No cut can come before MinSize, so those bytes are skipped unhashed; the
// gear hash then needs only the last 64 bytes to decide, which keeps the
// cuts independent of where the chunk began.
size_t TChunker::Feed(const uint8_t* data, size_t size, bool& ended) {
  ended = false;
  size_t i = 0;
  if (FLength < FParams.MinSize) {
    const size_t skip = std::min<size_t>(size, FParams.MinSize - FLength);
    i = skip;
    FLength += static_cast<uint32_t>(skip);
    if (i == size) return i;
  }
  const uint64_t* gear = FParams.Gear.data();
  uint64_t hash = FHash;
  const auto cutAt = [&](size_t end) {
    FHash = 0;
    FLength = 0;
    ended = true;
    return end;
  };
  if (FLength < FParams.NormalSize) {
    const size_t stop = std::min<size_t>(size, i + (FParams.NormalSize - FLength));
    const uint64_t mask = FParams.MaskSmall;
    const size_t from = i;
    for (; i < stop; ++i) {
      hash = (hash << 1) + gear[data[i]];
      if ((hash & mask) == 0) return cutAt(i + 1);
    }
    FLength += static_cast<uint32_t>(stop - from);
  }
  if (i < size) {
    const size_t stop = std::min<size_t>(size, i + (FParams.MaxSize - FLength));
    const uint64_t mask = FParams.MaskLarge;
    const size_t from = i;
    for (; i < stop; ++i) {
      hash = (hash << 1) + gear[data[i]];
      if ((hash & mask) == 0) return cutAt(i + 1);
    }
    FLength += static_cast<uint32_t>(stop - from);
    if (FLength >= FParams.MaxSize) return cutAt(i);
  }
  FHash = hash;
  return i;
}

uint64_t ChunkIndexBytes(uint64_t count) { return HeaderBytes + count * RecordBytes; }

std::string WriteChunkIndex(const TChunkIndex& index) {
  std::string out(Magic, sizeof Magic);
  out.reserve(ChunkIndexBytes(index.Chunks.size()));
  Put32(out, ChunkIndexVersion);
  Put32(out, ChunkHashXxh3);
  Put32(out, index.Params.MinSize);
  Put32(out, index.Params.NormalSize);
  Put32(out, index.Params.MaxSize);
  Put64(out, index.Params.MaskSmall);
  Put64(out, index.Params.MaskLarge);
  for (const uint64_t gear : index.Params.Gear) Put64(out, gear);
  Put64(out, static_cast<uint64_t>(index.FileSize));
  out.append(reinterpret_cast<const char*>(index.FileMd5.data()), index.FileMd5.size());
  Put64(out, index.Chunks.size());
  for (const TIndexChunk& chunk : index.Chunks) {
    Put32(out, chunk.Length);
    out.append(reinterpret_cast<const char*>(chunk.Digest.data()), chunk.Digest.size());
  }
  return out;
}

bool ParseChunkIndex(const void* data, size_t size, const TChunkIndexLimits& limits, TChunkIndex& index,
                     std::string& error) {
  index = TChunkIndex();
  if (size > limits.MaxBytes) return Fail(error, "index larger than allowed");
  if (size < HeaderBytes) return Fail(error, "index shorter than its header");
  TReader reader{static_cast<const uint8_t*>(data), size};
  if (std::memcmp(reader.data, Magic, sizeof Magic) != 0) return Fail(error, "not a chunk index");
  reader.at = sizeof Magic;
  if (reader.Get32() != ChunkIndexVersion) return Fail(error, "index version unknown");
  if (reader.Get32() != ChunkHashXxh3) return Fail(error, "chunk hash unknown");
  TChunkParams& params = index.Params;
  params.MinSize = reader.Get32();
  params.NormalSize = reader.Get32();
  params.MaxSize = reader.Get32();
  params.MaskSmall = reader.Get64();
  params.MaskLarge = reader.Get64();
  for (uint64_t& gear : params.Gear) gear = reader.Get64();
  if (params.MinSize < 64 || params.NormalSize < params.MinSize || params.MaxSize < params.NormalSize ||
      params.MaxSize > (16u << 20))
    return Fail(error, "chunk sizes out of bounds");
  const uint64_t fileSize = reader.Get64();
  if (fileSize > (1ull << 62)) return Fail(error, "file size out of bounds");
  // Tiny parameters with a few long records would make the cut of a large
  // local copy hold millions of chunks.
  const uint64_t cutBytes = limits.CutBytes ? limits.CutBytes : fileSize;
  if (cutBytes / params.MinSize + 1 > MaxCutMemory / CutChunkBytes)
    return Fail(error, "minimum chunk size too small for the size of the copy");
  index.FileSize = static_cast<int64_t>(fileSize);
  reader.Bytes(index.FileMd5.data(), index.FileMd5.size());
  const uint64_t count = reader.Get64();
  if (count > limits.MaxChunks) return Fail(error, "more chunks than allowed");
  // Every chunk but the last is at least the minimum long.
  if (count > fileSize / params.MinSize + 1) return Fail(error, "more chunks than the file size allows");
  if (size != ChunkIndexBytes(count)) return Fail(error, "index size does not match its chunk count");
  index.Chunks.resize(static_cast<size_t>(count));
  uint64_t sum = 0;
  for (size_t i = 0; i < index.Chunks.size(); ++i) {
    TIndexChunk& chunk = index.Chunks[i];
    chunk.Length = reader.Get32();
    reader.Bytes(chunk.Digest.data(), chunk.Digest.size());
    const bool last = i + 1 == index.Chunks.size();
    if (chunk.Length == 0 || chunk.Length > params.MaxSize || (!last && chunk.Length < params.MinSize))
      return Fail(error, "chunk length out of bounds");
    sum += chunk.Length;
  }
  if (sum != fileSize) return Fail(error, "chunk lengths do not add up to the file size");
  return true;
}

std::vector<TIndexChunk> ChunkBuffer(const TChunkParams& params, const uint8_t* data, size_t size) {
  std::vector<TIndexChunk> chunks;
  TChunker chunker(params);
  size_t start = 0, at = 0;
  while (at < size) {
    bool ended = false;
    at += chunker.Feed(data + at, size - at, ended);
    if (ended || at == size) {
      chunks.push_back({static_cast<uint32_t>(at - start), ChunkDigest(data + start, at - start)});
      start = at;
    }
  }
  return chunks;
}
