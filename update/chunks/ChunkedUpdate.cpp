#include "update/chunks/ChunkedUpdate.h"

#include <algorithm>

#include "common/Md5.h"
#include "platform/File.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "update/chunks/ChunkAssembly.h"
#include "update/manifest/Manifest.h"

namespace {

// Fetched ranges land in the assembly, which checks every chunk.
class TAssemblySink : public TRangeSink {
public:
  explicit TAssemblySink(TChunkAssembly& assembly) : FAssembly(assembly) {}
  void RangeBegin(size_t range) override { FAssembly.Begin(range); }
  bool RangeData(size_t range, int64_t position, const char* data, size_t length) override {
    return FAssembly.Land(range, position, data, length);
  }
  bool RangeEnd(size_t range) override { return FAssembly.End(range); }

private:
  TChunkAssembly& FAssembly;
};

TChunkedOutcome Fallback(std::string& reason, const std::string& text) {
  reason = text;
  return TChunkedOutcome::Fallback;
}

}  // namespace

std::string ChunkedOutputPath(const std::string& targetPath) { return targetPath + ".!new"; }
std::string ChunkedRecordPath(const std::string& targetPath) { return targetPath + ".!chunks"; }

TChunkedOutcome RunChunkedUpdate(TChunkedJob& job, const TChunkedHooks& hooks, TChunkedFigures& figures,
                                 std::string& reason) {
  const auto cancelled = [&hooks] { return hooks.IsCancelled && hooks.IsCancelled(); };
  // The index must describe the very file the manifest names.
  TChunkIndex index;
  TChunkIndexLimits limits;
  limits.MaxBytes = job.IndexBytes.size();
  limits.MaxChunks = static_cast<uint64_t>(job.FileSize) / 64 + 1;
  limits.CutBytes = static_cast<uint64_t>(std::max<int64_t>(GetFileSize(job.TargetPath), job.FileSize));
  std::string error;
  if (!ParseChunkIndex(job.IndexBytes.data(), job.IndexBytes.size(), limits, index, error))
    return Fallback(reason, "the chunk index does not parse: " + error);
  if (index.FileSize != job.FileSize || !SameDigestIgnoringCase(DigestToHex(index.FileMd5.data()), job.FileMd5))
    return Fallback(reason, "the chunk index describes another file than the manifest");

  std::vector<TOldChunk> old;
  if (job.HaveScanned && index.Params == DefaultChunkParams()) {
    old = std::move(job.Scanned);
  } else if (!ScanChunks(job.TargetPath, index.Params, cancelled, old)) {
    if (cancelled()) return TChunkedOutcome::Cancelled;
    return Fallback(reason, "the local copy cannot be read");
  }
  const TChunkPlan plan = PlanChunkedUpdate(old, index, job.Plan);
  old.clear();
  old.shrink_to_fit();
  figures.Reused = plan.ReusedBytes;
  figures.Fetched = plan.FetchBytes;
  figures.Ranges = plan.Ranges.size();
  if (!plan.Worthwhile)
    return Fallback(reason, std::to_string(plan.FetchBytes) + " of " + std::to_string(index.FileSize) +
                                " bytes would travel: the whole file is cheaper");

  const std::string output = ChunkedOutputPath(job.TargetPath);
  const std::string recordPath = ChunkedRecordPath(job.TargetPath);
  TChunkAssembly assembly(index, plan, output, recordPath, job.IndexMd5);
  if (!assembly.Open()) return Fallback(reason, "cannot write " + output);
  // Whatever goes wrong from here on, except a cancel, leaves nothing behind.
  const auto giveUp = [&](const std::string& text) {
    assembly.Discard();
    DeleteFileAt(output);
    return Fallback(reason, text);
  };
  // The old chunks are copied into place and the digests follow the bytes
  // in place while the ranges are on their way.
  assembly.ExpectSha256(job.FileSha256);
  if (!assembly.StartCopy(job.TargetPath)) return giveUp("the local copy cannot be read");

  std::vector<uint8_t> wanted(plan.Ranges.size(), 0);
  std::vector<TRangeFetch::TRange> ranges;
  ranges.reserve(plan.Ranges.size());
  for (size_t r = 0; r < plan.Ranges.size(); ++r) {
    ranges.push_back({plan.Ranges[r].Offset, plan.Ranges[r].Length});
    wanted[r] = assembly.RangeDone(r) ? 0 : 1;
  }
  {
    TAssemblySink sink(assembly);
    TRangeFetch fetch(job.FileUrl, job.Address, index.FileSize, std::move(ranges), sink, job.Fetch);
    const uint32_t started = GetTickCount32();
    fetch.Start(wanted);
    TRangeFetchState state;
    std::string copyError;
    for (;;) {
      state = fetch.Poll();
      if (hooks.OnFileProgress) hooks.OnFileProgress(assembly.BytesDone(), index.FileSize);
      if (hooks.OnNetwork) hooks.OnNetwork(fetch.Received(), GetTickCount32() - started);
      copyError = assembly.CopyError();
      if (state != TRangeFetchState::Running || cancelled() || !copyError.empty()) break;
      SleepMs(job.PollMs);
    }
    figures.Requests = fetch.Requests();
    figures.SentAhead = fetch.RequestsSentAhead();
    fetch.Stop();
    if (!copyError.empty()) return giveUp(copyError);
    if (state == TRangeFetchState::Running) {
      assembly.Close();
      return TChunkedOutcome::Cancelled;
    }
    if (state == TRangeFetchState::Failed) {
      const std::string landed = assembly.LandError();
      return giveUp(landed.empty() ? fetch.ErrorText() : landed);
    }
  }
  if (!assembly.Finish(job.TargetPath, cancelled,
                       [&](int64_t done) {
                         if (hooks.OnFileProgress) hooks.OnFileProgress(done, index.FileSize);
                       },
                       error)) {
    if (cancelled()) {
      assembly.Close();
      return TChunkedOutcome::Cancelled;
    }
    return giveUp(error);
  }
  assembly.Discard();
  if (!RenameFileAt(output, job.TargetPath)) return giveUp("cannot replace " + job.TargetPath);
  return TChunkedOutcome::Done;
}
