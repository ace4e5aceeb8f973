// The chunk index of a large file: the file cut into content-defined chunks
// (a gear hash decides where a chunk ends, so an inserted or deleted byte
// moves only the chunks around it), each with its length and XXH3-128 hash,
// plus the whole file's size and MD5. An update that has an older copy of
// the file fetches only the chunks it lacks (update/chunks/ChunkPlan.h).
//
// The index is a flat binary record list, little-endian, with its own
// format version; the chunker's parameters and gear table travel in it, so
// they may change later without breaking older indexes:
//
//   "LCHUNKIX"  magic, 8 bytes
//   u32 version (1)         u32 hash kind (1 = XXH3-128)
//   u32 minimum size        u32 normal size        u32 maximum size
//   u64 mask below normal   u64 mask from normal on
//   u64 gear[256]
//   u64 file size           16 bytes file MD5
//   u64 chunk count
//   count x { u32 length, 16 bytes hash }
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t ChunkIndexVersion = 1;
constexpr uint32_t ChunkHashXxh3 = 1;

struct TChunkParams {
  uint32_t MinSize = 4096;
  // Below this length a cut needs MaskSmall (more bits, rarer), from it on
  // MaskLarge (fewer bits): lengths gather around it.
  uint32_t NormalSize = 16384;
  uint32_t MaxSize = 65536;
  uint64_t MaskSmall = 0;
  uint64_t MaskLarge = 0;
  std::array<uint64_t, 256> Gear{};
  bool operator==(const TChunkParams&) const = default;
};

// 4 KiB minimum, 16 KiB normal, 64 KiB maximum; 16 and 12 mask bits taken
// from the top of the hash (the bits that depend on the most bytes); a gear
// table drawn from a fixed seed.
const TChunkParams& DefaultChunkParams();

using TChunkDigest = std::array<uint8_t, 16>;

// XXH3-128 of a block, in its canonical (big-endian) byte order.
TChunkDigest ChunkDigest(const void* data, size_t length);

// Incremental XXH3-128 for a chunk that arrives in pieces.
class TChunkHasher {
public:
  TChunkHasher();
  ~TChunkHasher();
  TChunkHasher(const TChunkHasher&) = delete;
  TChunkHasher& operator=(const TChunkHasher&) = delete;
  void Reset();
  void Update(const void* data, size_t length);
  TChunkDigest Digest() const;

private:
  void* FState;
};

// The chunker: a state machine fed with buffers, no I/O of its own. Feed
// tells how many bytes of the buffer belong to the current chunk and
// whether the chunk ends after them; the caller feeds the rest again. The
// cut points depend only on the bytes, never on how they were split into
// buffers.
class TChunker {
public:
  explicit TChunker(const TChunkParams& params) : FParams(params) {}
  size_t Feed(const uint8_t* data, size_t size, bool& ended);
  // Bytes of the current, unfinished chunk.
  uint32_t Pending() const { return FLength; }

private:
  const TChunkParams& FParams;
  uint64_t FHash = 0;
  uint32_t FLength = 0;
};

struct TIndexChunk {
  uint32_t Length = 0;
  TChunkDigest Digest{};
};

struct TChunkIndex {
  TChunkParams Params;
  int64_t FileSize = 0;
  std::array<uint8_t, 16> FileMd5{};
  std::vector<TIndexChunk> Chunks;
};

// Explicit bounds of a parse: the index is outside input.
struct TChunkIndexLimits {
  uint64_t MaxBytes = 64ull << 20;
  uint64_t MaxChunks = 4ull << 20;
  // The bytes of the local copy that the index's parameters will cut; 0:
  // the index's file size. The chunks of that cut must fit MaxCutMemory.
  uint64_t CutBytes = 0;
};

// The memory a cut of a local copy may take: each chunk of it is held with
// its offset, length and hash while the update is planned.
constexpr uint64_t MaxCutMemory = 64ull << 20;
constexpr uint64_t CutChunkBytes = 48;

// Size of an index of `count` chunks.
uint64_t ChunkIndexBytes(uint64_t count);
std::string WriteChunkIndex(const TChunkIndex& index);
// False, with the reason in `error`, for anything but a whole, consistent
// index of this version: wrong magic, version or hash kind, parameters out
// of their bounds, a size that does not match the chunk count, a chunk
// length of 0 or above the maximum, one below the minimum that is not the
// last, lengths that do not add up to the file size, more chunks than the
// minimum size allows, a minimum so small that cutting the local copy
// would need more than MaxCutMemory, or more than the limits allow.
bool ParseChunkIndex(const void* data, size_t size, const TChunkIndexLimits& limits, TChunkIndex& index,
                     std::string& error);

// Cuts a whole buffer into chunks (the operator tool and tests; the update
// cuts files in a stream, update/chunks/ChunkAssembly.h).
std::vector<TIndexChunk> ChunkBuffer(const TChunkParams& params, const uint8_t* data, size_t size);
