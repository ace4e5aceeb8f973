// One file brought up to date from its older local copy and the chunk
// index of the new one: the index checked against the manifest, the old
// file cut into chunks in one read (or taken as the caller cut it), the
// missing ranges fetched (TRangeFetch) while the old chunks are copied into
// the new file beside the target and its digests follow the bytes in place,
// and, once every chunk and the whole MD5 are right, renamed over it. Whenever anything is off the result
// is Fallback with the reason, and the caller fetches the whole file.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "http/RangeFetch.h"
#include "update/chunks/ChunkPlan.h"

struct TChunkedJob {
  std::string FileUrl;
  std::string Address;     // server to connect to instead of the URL's host; may be empty
  int64_t FileSize = 0;    // from the manifest
  std::string FileMd5;     // from the manifest
  std::string FileSha256;  // from a signed manifest; empty: not checked
  std::string IndexBytes;  // the index as fetched, its size and digest already checked
  std::string IndexMd5;
  std::string TargetPath;  // the old copy, replaced at the end
  // The old copy's chunks when the caller already cut it with
  // DefaultChunkParams() (digesting it on the way, or while the index was
  // fetched); used when the index has those parameters.
  std::vector<TOldChunk> Scanned;
  bool HaveScanned = false;
  TPlanOptions Plan;
  TRangeFetchOptions Fetch;
  uint32_t PollMs = 10;
};

struct TChunkedHooks {
  std::function<bool()> IsCancelled;
  // Bytes of the new file done (copied or fetched) of its size.
  std::function<void(int64_t done, int64_t total)> OnFileProgress;
  // Bytes received from the network so far and the milliseconds since the
  // fetch began.
  std::function<void(int64_t received, uint32_t elapsedMs)> OnNetwork;
};

enum class TChunkedOutcome { Done, Fallback, Cancelled };

struct TChunkedFigures {
  int64_t Reused = 0;
  int64_t Fetched = 0;
  size_t Ranges = 0;
  int Requests = 0;
  int SentAhead = 0;  // requests sent before the answer ahead of them came
};

// The files a chunked update keeps beside its target while it works.
std::string ChunkedOutputPath(const std::string& targetPath);
std::string ChunkedRecordPath(const std::string& targetPath);

TChunkedOutcome RunChunkedUpdate(TChunkedJob& job, const TChunkedHooks& hooks, TChunkedFigures& figures,
                                 std::string& reason);
