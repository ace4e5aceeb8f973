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
// The copy makes what it wrote durable this often, so that the disk works
// beside the copy instead of after it.
constexpr int64_t FlushEvery = 64 << 20;
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

TScanAhead::TScanAhead(std::string path, std::function<bool()> cancelled)
    : FPath(std::move(path)), FCancelled(std::move(cancelled)) {
  FThread = std::thread([this] {
    try {
      FRead = ScanChunks(FPath, DefaultChunkParams(), [this] { return FStop.load() || (FCancelled && FCancelled()); },
                         FChunks);
    } catch (...) {
      // Out of memory for the chunk list: the copy counts as unreadable.
      FRead = false;
    }
  });
}

TScanAhead::~TScanAhead() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
}

bool TScanAhead::Take(std::vector<TOldChunk>& chunks) {
  if (FThread.joinable()) FThread.join();
  if (!FRead) return false;
  chunks = std::move(FChunks);
  return true;
}

struct TChunkAssembly::TRangeState {
  int64_t next = 0;     // file position of the next byte expected
  int64_t checked = 0;  // the range's bytes before it are in place and checked
  size_t step = 0;      // the step that byte belongs to
  uint32_t inChunk = 0; // bytes of that step already hashed
  TChunkHasher hasher;
};

TChunkAssembly::TChunkAssembly(const TChunkIndex& index, const TChunkPlan& plan, std::string outputPath,
                               std::string recordPath, std::string indexDigest)
    : FIndex(index), FPlan(plan), FOutputPath(std::move(outputPath)), FRecordPath(std::move(recordPath)),
      FIndexDigest(std::move(indexDigest)), FDone(plan.Ranges.size(), 0), FStates(plan.Ranges.size()) {}

TChunkAssembly::~TChunkAssembly() { Close(); }

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
  std::lock_guard<std::mutex> guard(FLock);
  if (!FStates[range]) FStates[range] = std::make_unique<TRangeState>();
  TRangeState& state = *FStates[range];
  state.next = state.checked = FPlan.Ranges[range].Offset;
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
  // The digest follows only checked chunks: the tail of an unfinished one
  // may still turn out wrong.
  const int64_t checked = state.next - state.inChunk;
  if (checked > state.checked) {
    Placed(state.checked, checked - state.checked);
    state.checked = checked;
  }
  return true;
}

std::string TChunkAssembly::LandError() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLandError;
}

bool TChunkAssembly::End(size_t range) {
  const TFetchRange& fetch = FPlan.Ranges[range];
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FStates[range] || FStates[range]->next != fetch.Offset + fetch.Length) return false;
    FStates[range].reset();
    FDone[range] = 1;
    if (FCopying) {
      FEnded.push_back(range);
      FChanged.notify_all();
      return true;
    }
  }
  return Record({range});
}

// The data is made durable before its line, so a recorded range is on disk.
bool TChunkAssembly::Record(const std::vector<size_t>& ranges) {
  std::lock_guard<std::mutex> guard(FRecordLock);
  try {
    FOutput->Flush();
    if (ranges.empty()) return true;
    TFileStream file(FRecordPath, TFileMode::OpenAlways);
    file.Seek(file.Size());
    std::string lines;
    for (const size_t range : ranges) lines += std::to_string(range) + "\n";
    file.WriteBuffer(lines.data(), lines.size());
  } catch (const EFileError&) {
    // The ranges stay in this run; only a resume would fetch them again.
  }
  return true;
}

void TChunkAssembly::RecordEnded() {
  std::vector<size_t> ended;
  {
    std::lock_guard<std::mutex> guard(FLock);
    ended.swap(FEnded);
  }
  Record(ended);
}

void TChunkAssembly::Placed(int64_t offset, int64_t length) {
  if (FDigest) FDigest->Written(offset, length);
}

bool TChunkAssembly::StartCopy(const std::string& oldPath) {
  if (FDigest) return true;
  std::shared_ptr<TFileStream> old;
  try {
    old = std::make_shared<TFileStream>(oldPath, TFileMode::ReadShared);
    FReadBack = std::make_unique<TFileStream>(FOutputPath, TFileMode::ReadShared);
  } catch (const EFileError&) {
    return false;
  }
  TMd5Follower::TAlso also;
  if (!FExpectedSha256.empty()) {
    FSha = std::make_unique<TSha256Stream>();
    also = [this](const void* data, size_t length) { FSha->Update(data, length); };
  }
  // Only the digest's thread reads back, through a handle of its own.
  auto digest = std::make_unique<TMd5Follower>(
      FIndex.FileSize,
      [this](int64_t offset, void* buffer, size_t length) {
        FReadBack->Seek(offset);
        FReadBack->ReadBuffer(buffer, length);
        return true;
      },
      std::move(also));
  std::lock_guard<std::mutex> guard(FLock);
  FDigest = std::move(digest);
  for (size_t r = 0; r < FDone.size(); ++r) {
    const TFetchRange& range = FPlan.Ranges[r];
    if (FDone[r]) Placed(range.Offset, range.Length);
    else if (FStates[r]) Placed(range.Offset, FStates[r]->checked - range.Offset);
  }
  FCopying = true;
  FCopier = std::thread([this, old] {
    try {
      Copy(*old);
    } catch (const std::exception& failure) {
      CopyFailed(failure.what());
    } catch (...) {
      CopyFailed("the copy failed");
    }
  });
  return true;
}

void TChunkAssembly::CopyFailed(const std::string& text) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FCopyError.empty()) FCopyError = text;
  FChanged.notify_all();
}

std::string TChunkAssembly::CopyError() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FCopyError;
}

// The copy's thread: the old file's chunks in order, each checked, then the
// record of the ranges as they come in, until all are in or the stop.
void TChunkAssembly::Copy(TFileStream& old) {
  std::vector<char> buffer(static_cast<size_t>(CopyBlock));
  const std::vector<TChunkStep>& steps = FPlan.Steps;
  int64_t unflushed = 0;
  size_t i = 0;
  while (i < steps.size() && !FStopping) {
    if (steps[i].OldOffset < 0) {
      ++i;
      continue;
    }
    // A run of copied steps, contiguous in the old file, up to a block.
    size_t end = i + 1;
    int64_t length = steps[i].Length;
    while (end < steps.size() && steps[end].OldOffset == steps[i].OldOffset + length &&
           length + steps[end].Length <= CopyBlock) {
      length += steps[end].Length;
      ++end;
    }
    old.Seek(steps[i].OldOffset);
    old.ReadBuffer(buffer.data(), static_cast<size_t>(length));
    size_t at = 0;
    for (size_t k = i; k < end; ++k) {
      if (ChunkDigest(buffer.data() + at, steps[k].Length) != FIndex.Chunks[k].Digest) {
        CopyFailed("the local copy changed during the update");
        return;
      }
      at += steps[k].Length;
    }
    {
      std::lock_guard<std::mutex> guard(FLock);
      FOutput->Seek(steps[i].Offset);
      FOutput->WriteBuffer(buffer.data(), static_cast<size_t>(length));
      FBytesDone += length;
      Placed(steps[i].Offset, length);
    }
    unflushed += length;
    bool ended = false;
    {
      std::lock_guard<std::mutex> guard(FLock);
      ended = !FEnded.empty();
    }
    if (ended || unflushed >= FlushEvery) {
      RecordEnded();
      unflushed = 0;
    }
    i = end;
  }
  for (;;) {
    std::unique_lock<std::mutex> guard(FLock);
    FChanged.wait(guard, [this] {
      return !FEnded.empty() || FStopping || std::all_of(FDone.begin(), FDone.end(), [](uint8_t d) { return d != 0; });
    });
    if (FEnded.empty()) break;
    guard.unlock();
    RecordEnded();
  }
}

bool TChunkAssembly::Finish(const std::string& oldPath, const std::function<bool()>& cancelled,
                            const std::function<void(int64_t)>& progress, std::string& error) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    for (size_t r = 0; r < FDone.size(); ++r)
      if (!FDone[r]) {
        error = "range " + std::to_string(r) + " missing";
        return false;
      }
  }
  if (!StartCopy(oldPath)) {
    error = "the local copy cannot be read";
    return false;
  }
  for (;;) {
    if (cancelled && cancelled()) {
      error = "cancelled";
      return false;
    }
    error = CopyError();
    if (!error.empty()) return false;
    if (FDigest->Failed()) {
      error = "the new file cannot be read back";
      return false;
    }
    const bool hashed = FDigest->WaitHashed(50);
    if (progress) progress(BytesDone());
    if (hashed) break;
  }
  if (FDigest->FinalHex() != DigestToHex(FIndex.FileMd5.data())) {
    error = "the assembled file does not match its MD5";
    return false;
  }
  if (FSha && FSha->FinalHex() != FExpectedSha256) {
    error = "the assembled file does not match its SHA-256";
    return false;
  }
  try {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FOutput->Truncate(FIndex.FileSize);
    }
    FOutput->Flush();
  } catch (const EFileError& failure) {
    error = failure.what();
    return false;
  }
  return true;
}

void TChunkAssembly::Stop() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
    FChanged.notify_all();
  }
  if (FCopier.joinable()) FCopier.join();
  if (FDigest) FDigest->Stop();
  bool ended = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCopying = false;
    ended = !FEnded.empty();
  }
  // Ranges that came in after the copy's thread left.
  if (ended && FOutput) RecordEnded();
}

void TChunkAssembly::Close() {
  Stop();
  FDigest.reset();
  FReadBack.reset();
  std::lock_guard<std::mutex> guard(FLock);
  FOutput.reset();
}

void TChunkAssembly::Discard() {
  Close();
  DeleteFileAt(FRecordPath);
}
