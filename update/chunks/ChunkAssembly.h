// The file side of a chunked update: cutting the local copy into chunks in
// one sequential read, and building the new file beside the target from
// fetched ranges (each chunk checked as it lands) and chunks copied from the
// old file, with the whole file's MD5 taken on the way. A record beside the
// new file lists the ranges already in, so a killed update resumes.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "update/chunks/ChunkIndex.h"
#include "update/chunks/ChunkPlan.h"

class TFileStream;
class TMd5Behind;

// Cuts the file at `path` with `params`, feeding `md5` (may be null; it
// hashes on its own thread while the next block is cut) on the way. False
// when it cannot be read or the scan was cancelled.
bool ScanChunks(const std::string& path, const TChunkParams& params, const std::function<bool()>& cancelled,
                std::vector<TOldChunk>& chunks, TMd5Behind* md5 = nullptr);
// The index of the file at `path` with the default parameters.
bool BuildChunkIndex(const std::string& path, TChunkIndex& index);

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
  // End is true when all the range's bytes came in, which is then recorded.
  void Begin(size_t range);
  bool Land(size_t range, int64_t position, const char* data, size_t length);
  bool End(size_t range);
  // Why Land failed, for the log.
  std::string LandError() const;

  // The SHA-256 (64 lowercase hexadecimal digits) Finish also requires of
  // the whole file; empty: none.
  void ExpectSha256(const std::string& sha256) { FExpectedSha256 = sha256; }
  // Copies the chunks of the old file into place (each checked), reads the
  // fetched ones back, and compares the whole file's MD5 with the index
  // (and its SHA-256, when one is expected), taking both in the same pass.
  // `progress` gets the new file's bytes done. False with `error` set.
  bool Finish(const std::string& oldPath, const std::function<bool()>& cancelled,
              const std::function<void(int64_t)>& progress, std::string& error);
  // Closes the new file and removes the record (after success or to start over).
  void Discard();
  void Close();

private:
  struct TRangeState;
  bool Record(size_t range);

  const TChunkIndex& FIndex;
  const TChunkPlan& FPlan;
  const std::string FOutputPath;
  const std::string FRecordPath;
  const std::string FIndexDigest;
  std::string FExpectedSha256;
  std::unique_ptr<TFileStream> FOutput;
  mutable std::mutex FLock;  // the output file, the record and the counters
  std::vector<uint8_t> FDone;
  std::vector<std::unique_ptr<TRangeState>> FStates;
  int64_t FBytesDone = 0;
  std::string FLandError;
};
