#include "update/chunks/ChunkAssembly.h"

#include <algorithm>
#include <cstring>

#include "common/Md5.h"
#include "common/Md5Behind.h"
#include "platform/File.h"
#include "signing/Crypto.h"

namespace {

constexpr size_t ScanBuffer = 1 << 20;
constexpr int64_t CopyBlock = 1 << 20;
const char RecordHead[] = "chunks of index ";

}  // namespace

bool ScanChunks(const std::string& path, const TChunkParams& params, const std::function<bool()>& cancelled,
                std::vector<TOldChunk>& chunks, TMd5Behind* md5) {
  chunks.clear();
  // Two buffers: the MD5 thread hashes one while the other is read and cut.
  std::unique_ptr<uint8_t[]> buffers[2] = {std::make_unique<uint8_t[]>(ScanBuffer),
                                           std::make_unique<uint8_t[]>(md5 ? ScanBuffer : 0)};
  struct THashedBeforeFreed {
    TMd5Behind* md5;
    ~THashedBeforeFreed() {
      if (md5) md5->Wait();
    }
  } hashed{md5};
  try {
    TFileStream file(path, TFileMode::ReadShared);
    TChunker chunker(params);
    TChunkHasher hasher;
    int64_t offset = 0, start = 0;
    for (int current = 0;; current = md5 ? current ^ 1 : 0) {
      if (cancelled && cancelled()) return false;
      uint8_t* buffer = buffers[current].get();
      const size_t count = file.Read(buffer, ScanBuffer);
      if (count == 0) break;
      if (md5) md5->Add(buffer, count);
      size_t at = 0;
      while (at < count) {
        bool ended = false;
        const size_t taken = chunker.Feed(buffer + at, count - at, ended);
        hasher.Update(buffer + at, taken);
        at += taken;
        offset += static_cast<int64_t>(taken);
        if (ended) {
          chunks.push_back({start, static_cast<uint32_t>(offset - start), hasher.Digest()});
          hasher.Reset();
          start = offset;
        }
      }
    }
    if (offset > start) chunks.push_back({start, static_cast<uint32_t>(offset - start), hasher.Digest()});
    return true;
  } catch (const EFileError&) {
    return false;
  }
}

bool BuildChunkIndex(const std::string& path, TChunkIndex& index) {
  index = TChunkIndex();
  index.Params = DefaultChunkParams();
  std::vector<TOldChunk> chunks;
  TMd5Behind md5;
  if (!ScanChunks(path, index.Params, nullptr, chunks, &md5)) return false;
  md5.Final(index.FileMd5.data());
  index.Chunks.reserve(chunks.size());
  for (const TOldChunk& chunk : chunks) {
    index.Chunks.push_back({chunk.Length, chunk.Digest});
    index.FileSize += chunk.Length;
  }
  return true;
}

struct TChunkAssembly::TRangeState {
  int64_t next = 0;     // file position of the next byte expected
  size_t step = 0;      // the step that byte belongs to
  uint32_t inChunk = 0; // bytes of that step already hashed
  TChunkHasher hasher;
};

TChunkAssembly::TChunkAssembly(const TChunkIndex& index, const TChunkPlan& plan, std::string outputPath,
                               std::string recordPath, std::string indexDigest)
    : FIndex(index), FPlan(plan), FOutputPath(std::move(outputPath)), FRecordPath(std::move(recordPath)),
      FIndexDigest(std::move(indexDigest)), FDone(plan.Ranges.size(), 0), FStates(plan.Ranges.size()) {}

TChunkAssembly::~TChunkAssembly() = default;

bool TChunkAssembly::Open() {
  // A record of another index (or none) means the data beside the target
  // is not known to be anything: start over.
  std::string record;
  try {
    TFileStream file(FRecordPath, TFileMode::ReadShared);
    const int64_t size = file.Size();
    if (size > 0 && size <= static_cast<int64_t>(64 + 12 * FDone.size())) {
      record.resize(static_cast<size_t>(size));
      file.ReadBuffer(&record[0], record.size());
    }
  } catch (const EFileError&) {
  }
  const std::string head = RecordHead + FIndexDigest + "\n";
  const bool resumed = record.compare(0, head.size(), head) == 0 && FileExists(FOutputPath);
  try {
    FOutput = std::make_unique<TFileStream>(FOutputPath, resumed ? TFileMode::OpenAlways : TFileMode::CreateTruncate);
    if (!resumed) {
      TFileStream file(FRecordPath, TFileMode::CreateTruncate);
      file.WriteBuffer(head.data(), head.size());
      return true;
    }
  } catch (const EFileError&) {
    return false;
  }
  // Only whole lines count: a kill may have cut the last one.
  size_t at = head.size();
  while (at < record.size()) {
    const size_t end = record.find('\n', at);
    if (end == std::string::npos) break;
    const std::string line = record.substr(at, end - at);
    at = end + 1;
    if (line.empty() || line.size() > 10 || line.find_first_not_of("0123456789") != std::string::npos) continue;
    const unsigned long long range = std::stoull(line);
    if (range < FDone.size() && !FDone[range]) {
      FDone[range] = 1;
      FBytesDone += FPlan.Ranges[range].Length;
    }
  }
  return true;
}

int64_t TChunkAssembly::BytesDone() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FBytesDone;
}

void TChunkAssembly::Begin(size_t range) {
  if (!FStates[range]) FStates[range] = std::make_unique<TRangeState>();
  TRangeState& state = *FStates[range];
  state.next = FPlan.Ranges[range].Offset;
  state.step = FPlan.Ranges[range].FirstStep;
  state.inChunk = 0;
  state.hasher.Reset();
}

bool TChunkAssembly::Land(size_t range, int64_t position, const char* data, size_t length) {
  TRangeState& state = *FStates[range];
  const TFetchRange& fetch = FPlan.Ranges[range];
  const auto fail = [this](const std::string& text) {
    std::lock_guard<std::mutex> guard(FLock);
    if (FLandError.empty()) FLandError = text;
    return false;
  };
  if (position != state.next || position + static_cast<int64_t>(length) > fetch.Offset + fetch.Length)
    return fail("data outside its range at " + std::to_string(position));
  // Check the chunks that complete in this piece before anything is written.
  size_t at = 0;
  while (at < length) {
    const TChunkStep& step = FPlan.Steps[state.step];
    const size_t take = std::min<size_t>(length - at, step.Length - state.inChunk);
    state.hasher.Update(data + at, take);
    state.inChunk += static_cast<uint32_t>(take);
    at += take;
    if (state.inChunk == step.Length) {
      if (state.hasher.Digest() != FIndex.Chunks[state.step].Digest)
        return fail("chunk at " + std::to_string(step.Offset) + " does not match its hash");
      state.hasher.Reset();
      state.inChunk = 0;
      ++state.step;
    }
  }
  std::lock_guard<std::mutex> guard(FLock);
  try {
    FOutput->Seek(position);
    FOutput->WriteBuffer(data, length);
  } catch (const EFileError& error) {
    if (FLandError.empty()) FLandError = error.what();
    return false;
  }
  state.next += static_cast<int64_t>(length);
  FBytesDone += static_cast<int64_t>(length);
  return true;
}

std::string TChunkAssembly::LandError() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLandError;
}

bool TChunkAssembly::End(size_t range) {
  const TFetchRange& fetch = FPlan.Ranges[range];
  if (!FStates[range] || FStates[range]->next != fetch.Offset + fetch.Length) return false;
  FStates[range].reset();
  return Record(range);
}

// The data is written before its line, so a recorded range is on disk.
bool TChunkAssembly::Record(size_t range) {
  std::lock_guard<std::mutex> guard(FLock);
  FDone[range] = 1;
  try {
    FOutput->Flush();
    TFileStream file(FRecordPath, TFileMode::OpenAlways);
    file.Seek(file.Size());
    const std::string line = std::to_string(range) + "\n";
    file.WriteBuffer(line.data(), line.size());
  } catch (const EFileError&) {
    // The range stays in this run; only a resume would fetch it again.
  }
  return true;
}

bool TChunkAssembly::Finish(const std::string& oldPath, const std::function<bool()>& cancelled,
                            const std::function<void(int64_t)>& progress, std::string& error) {
  for (size_t r = 0; r < FDone.size(); ++r)
    if (!FDone[r]) {
      error = "range " + std::to_string(r) + " missing";
      return false;
    }
  std::lock_guard<std::mutex> guard(FLock);
  // Two buffers: the MD5 thread hashes one while the other is filled.
  std::vector<char> buffers[2];
  for (std::vector<char>& buffer : buffers) buffer.resize(static_cast<size_t>(CopyBlock) + 65536);
  int current = 0;
  TMd5Behind md5;  // after the buffers: it lets go of them before they go
  // SHA-256 on this thread while the MD5 thread hashes the same block.
  TSha256Stream sha;
  try {
    TFileStream old(oldPath, TFileMode::ReadShared);
    const std::vector<TChunkStep>& steps = FPlan.Steps;
    size_t i = 0;
    while (i < steps.size()) {
      if (cancelled && cancelled()) {
        error = "cancelled";
        return false;
      }
      // A run of steps of one kind, contiguous in their source, up to a block.
      const bool copied = steps[i].OldOffset >= 0;
      size_t end = i + 1;
      int64_t length = steps[i].Length;
      while (end < steps.size() && (steps[end].OldOffset >= 0) == copied && length + steps[end].Length <= CopyBlock &&
             (!copied || steps[end].OldOffset == steps[i].OldOffset + length)) {
        length += steps[end].Length;
        ++end;
      }
      char* data = buffers[current].data();
      if (copied) {
        old.Seek(steps[i].OldOffset);
        old.ReadBuffer(data, static_cast<size_t>(length));
        size_t at = 0;
        for (size_t k = i; k < end; ++k) {
          if (ChunkDigest(data + at, steps[k].Length) != FIndex.Chunks[k].Digest) {
            error = "the local copy changed during the update";
            return false;
          }
          at += steps[k].Length;
        }
        FOutput->Seek(steps[i].Offset);
        FOutput->WriteBuffer(data, static_cast<size_t>(length));
        FBytesDone += length;
        if (progress) progress(FBytesDone);
      } else {
        FOutput->Seek(steps[i].Offset);
        FOutput->ReadBuffer(data, static_cast<size_t>(length));
      }
      md5.Add(data, static_cast<size_t>(length));
      if (!FExpectedSha256.empty()) sha.Update(data, static_cast<size_t>(length));
      current ^= 1;
      i = end;
    }
    FOutput->Truncate(FIndex.FileSize);
    FOutput->Flush();
  } catch (const EFileError& failure) {
    error = failure.what();
    return false;
  }
  if (md5.FinalHex() != DigestToHex(FIndex.FileMd5.data())) {
    error = "the assembled file does not match its MD5";
    return false;
  }
  if (!FExpectedSha256.empty() && sha.FinalHex() != FExpectedSha256) {
    error = "the assembled file does not match its SHA-256";
    return false;
  }
  return true;
}

void TChunkAssembly::Close() {
  std::lock_guard<std::mutex> guard(FLock);
  FOutput.reset();
}

void TChunkAssembly::Discard() {
  Close();
  DeleteFileAt(FRecordPath);
}
