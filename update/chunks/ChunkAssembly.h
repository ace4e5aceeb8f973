// The file side of a chunked update: cutting the local copy into chunks in
// one sequential read, and building the new file beside the target from
// fetched ranges (each chunk checked as it lands) and chunks copied from the
// old file (each checked as it is read), the copy running beside the fetch
// and the whole file's digests following the bytes in place. A record
// beside the new file lists the ranges already in, so a killed update
// resumes.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/chunks/ChunkIndex.h"
#include "update/chunks/ChunkPlan.h"

class TFileStream;
class TMd5Behind;
class TMd5Follower;
class TSha256Stream;

// Cuts the file at `path` with `params`, feeding `md5` (may be null; it
// hashes on its own thread while the next block is cut) on the way. False
// when it cannot be read or the scan was cancelled.
bool ScanChunks(const std::string& path, const TChunkParams& params, const std::function<bool()>& cancelled,
                std::vector<TOldChunk>& chunks, TMd5Behind* md5 = nullptr);
// The index of the file at `path` with the default parameters.
bool BuildChunkIndex(const std::string& path, TChunkIndex& index);

// The old copy of a file cut with the default parameters on a thread of its
// own, while the caller fetches the chunk index: an index with those
// parameters (the usual case) is then planned at once.
class TScanAhead {
public:
  // `cancelled` is asked from the scan's thread.
  TScanAhead(std::string path, std::function<bool()> cancelled);
  // Stops the scan and waits for it.
  ~TScanAhead();
  TScanAhead(const TScanAhead&) = delete;
  TScanAhead& operator=(const TScanAhead&) = delete;

  // Waits for the scan; false when the copy cannot be read or the scan was
  // cancelled.
  bool Take(std::vector<TOldChunk>& chunks);

private:
  const std::string FPath;
  const std::function<bool()> FCancelled;
  std::atomic<bool> FStop{false};
  bool FRead = false;
  std::vector<TOldChunk> FChunks;
  std::thread FThread;
};

class TChunkAssembly {
public:
  // The new file is written at `outputPath`; `recordPath` keeps the ranges
  // already in, for the index named by `indexDigest`.
  TChunkAssembly(const TChunkIndex& index, const TChunkPlan& plan, std::string outputPath, std::string recordPath,
                 std::string indexDigest);
  ~TChunkAssembly();

  // Opens the new file; ranges recorded by an earlier run of the same index
  // count as done. False when the file cannot be opened.
  bool Open();
  bool RangeDone(size_t range) const { return FDone[range] != 0; }
  int64_t BytesDone() const;

  // Fetched data; each range is fed by one caller at a time, from its start
  // on, in order. Begin starts (or restarts) a range; Land takes its bytes
  // and is false when a chunk does not match its hash or the write fails;
  // End is true when all the range's bytes came in, which is then recorded
  // (by the copy's thread while it runs, so no fetch thread waits for the
  // disk).
  void Begin(size_t range);
  bool Land(size_t range, int64_t position, const char* data, size_t length);
  bool End(size_t range);
  // Why Land failed, for the log.
  std::string LandError() const;

  // The SHA-256 (64 lowercase hexadecimal digits) Finish also requires of
  // the whole file; empty: none. Before StartCopy.
  void ExpectSha256(const std::string& sha256) { FExpectedSha256 = sha256; }
  // Starts copying the chunks of the old file into place (each checked) on
  // a thread of its own, while fetched ranges land, and the whole file's
  // MD5 (and SHA-256) following the bytes in place from the start. False
  // when the old file cannot be opened.
  bool StartCopy(const std::string& oldPath);
  // Why the copy failed ("" while it did not).
  std::string CopyError() const;
  // With every range in: waits for the copy (started here when it was not)
  // and the digests, compares the whole file's MD5 with the index (and its
  // SHA-256, when one is expected) and makes the file durable. `progress`
  // gets the new file's bytes done. False with `error` set.
  bool Finish(const std::string& oldPath, const std::function<bool()>& cancelled,
              const std::function<void(int64_t)>& progress, std::string& error);
  // Stops the copy and the digests; the ranges in are recorded.
  void Stop();
  // Closes the new file and removes the record (after success or to start over).
  void Discard();
  void Close();

private:
  struct TRangeState;
  bool Record(const std::vector<size_t>& ranges);
  void Copy(TFileStream& old);
  void CopyFailed(const std::string& text);
  // Ranges ended and not recorded yet, recorded after a flush.
  void RecordEnded();
  // Under FLock: bytes [offset, offset + length) are in place and checked.
  void Placed(int64_t offset, int64_t length);

  const TChunkIndex& FIndex;
  const TChunkPlan& FPlan;
  const std::string FOutputPath;
  const std::string FRecordPath;
  const std::string FIndexDigest;
  std::string FExpectedSha256;
  std::unique_ptr<TFileStream> FOutput;
  std::unique_ptr<TFileStream> FReadBack;  // the digest's
  mutable std::mutex FLock;  // the output file's position, the lists and the counters
  std::condition_variable FChanged;
  std::mutex FRecordLock;  // the record file
  std::vector<uint8_t> FDone;
  std::vector<std::unique_ptr<TRangeState>> FStates;
  std::vector<size_t> FEnded;  // ranges in, not recorded yet
  int64_t FBytesDone = 0;
  std::string FLandError;
  std::string FCopyError;
  bool FCopying = false;  // the copy's thread runs (and records the ranges)
  std::atomic<bool> FStopping{false};
  std::unique_ptr<TSha256Stream> FSha;
  std::unique_ptr<TMd5Follower> FDigest;
  std::thread FCopier;
};
