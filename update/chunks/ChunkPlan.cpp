#include "update/chunks/ChunkPlan.h"

#include <cstring>
#include <unordered_map>

namespace {

struct TDigestKey {
  size_t operator()(const TChunkDigest& digest) const {
    size_t key;
    std::memcpy(&key, digest.data(), sizeof key);
    return key;
  }
};

}  // namespace

TChunkPlan PlanChunkedUpdate(const std::vector<TOldChunk>& old, const TChunkIndex& index,
                             const TPlanOptions& options) {
  TChunkPlan plan;
  std::unordered_map<TChunkDigest, const TOldChunk*, TDigestKey> known;
  known.reserve(old.size());
  for (const TOldChunk& chunk : old) known.emplace(chunk.Digest, &chunk);

  plan.Steps.reserve(index.Chunks.size());
  int64_t offset = 0;
  for (const TIndexChunk& chunk : index.Chunks) {
    TChunkStep step;
    step.Offset = offset;
    step.Length = chunk.Length;
    const auto found = known.find(chunk.Digest);
    if (found != known.end() && found->second->Length == chunk.Length) step.OldOffset = found->second->Offset;
    plan.Steps.push_back(step);
    offset += chunk.Length;
  }

  // Missing chunks make ranges; a gap of present chunks up to BridgeGap
  // between two missing ones is fetched with them.
  const size_t count = plan.Steps.size();
  size_t i = 0;
  while (i < count) {
    if (plan.Steps[i].OldOffset >= 0) {
      ++i;
      continue;
    }
    TFetchRange range;
    range.Offset = plan.Steps[i].Offset;
    range.FirstStep = static_cast<uint32_t>(i);
    size_t end = i + 1;  // one past the range's last step
    for (;;) {
      size_t next = end;
      int64_t gap = 0;
      while (next < count && plan.Steps[next].OldOffset >= 0 && gap <= options.BridgeGap) gap += plan.Steps[next++].Length;
      if (next >= count || gap > options.BridgeGap) break;
      // plan.Steps[next] is missing: take the gap and it, unless too long.
      const int64_t length = plan.Steps[next].Offset + plan.Steps[next].Length - range.Offset;
      if (length > options.MaxRange) break;
      end = next + 1;
    }
    range.StepCount = static_cast<uint32_t>(end - i);
    range.Length = plan.Steps[end - 1].Offset + plan.Steps[end - 1].Length - range.Offset;
    const int32_t number = static_cast<int32_t>(plan.Ranges.size());
    for (size_t k = i; k < end; ++k) {
      plan.Steps[k].OldOffset = -1;
      plan.Steps[k].Range = number;
    }
    plan.Ranges.push_back(range);
    plan.FetchBytes += range.Length;
    i = end;
  }
  plan.ReusedBytes = index.FileSize - plan.FetchBytes;
  plan.Worthwhile = static_cast<double>(plan.FetchBytes) <= options.MaxFetchShare * static_cast<double>(index.FileSize);
  return plan;
}
