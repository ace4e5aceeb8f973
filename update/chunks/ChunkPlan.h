// Planning a chunked update: which chunks of the new file can be copied
// from the old local copy and which byte ranges of the new file must be
// fetched. A pure function of the old file's chunks and the new index.
#pragma once
#include <cstdint>
#include <vector>

#include "update/chunks/ChunkIndex.h"

// A chunk of the local (old) file, found by cutting it with the new index's
// parameters.
struct TOldChunk {
  int64_t Offset = 0;
  uint32_t Length = 0;
  TChunkDigest Digest{};
};

// One chunk of the new file: copied from the old file at OldOffset, or
// part of the fetched range Range (OldOffset -1).
struct TChunkStep {
  int64_t Offset = 0;
  uint32_t Length = 0;
  int64_t OldOffset = -1;
  int32_t Range = -1;
};

// Bytes [Offset, Offset + Length) of the new file, made of whole chunks
// (steps FirstStep .. FirstStep + StepCount - 1).
struct TFetchRange {
  int64_t Offset = 0;
  int64_t Length = 0;
  uint32_t FirstStep = 0;
  uint32_t StepCount = 0;
};

struct TPlanOptions {
  // Missing chunks closer than this are fetched as one range, the chunks
  // between them included: a request costs about a round trip.
  int64_t BridgeGap = 16384;
  // A range is not made longer than this, so that the connections share the
  // work.
  int64_t MaxRange = 2 << 20;
  // More than this share of the file to fetch: the whole file is cheaper.
  double MaxFetchShare = 0.5;
};

struct TChunkPlan {
  std::vector<TChunkStep> Steps;
  std::vector<TFetchRange> Ranges;
  int64_t ReusedBytes = 0;
  int64_t FetchBytes = 0;
  // False when so much must travel that the whole file is the better way.
  bool Worthwhile = false;
};

TChunkPlan PlanChunkedUpdate(const std::vector<TOldChunk>& old, const TChunkIndex& index,
                             const TPlanOptions& options = TPlanOptions());
