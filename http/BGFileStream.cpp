#include "http/BGFileStream.h"

#include "common/Format.h"
#include "platform/DebugOutput.h"

TBGFileStream::TBGFileStream(const std::string& path, size_t queueLimit)
    : FFile(path, TFileMode::OpenAlways), FQueueLimit(queueLimit) {
  Start();
}

TBGFileStream::~TBGFileStream() {
  TerminateAndWait();
  // The thread drained the queue before it ended; anything queued after
  // that (a late worker) is written here.
  while (WriteNext()) {
  }
}

void TBGFileStream::TerminatedSet() {
  std::lock_guard<std::mutex> guard(FLock);
  FClosing = true;
  FQueued.notify_all();
  FWritten.notify_all();
}

bool TBGFileStream::Queue(int64_t position, std::vector<char>&& block) {
  const size_t length = block.size();
  std::unique_lock<std::mutex> lock(FLock);
  // A block larger than the whole limit is taken once the queue is empty.
  FWritten.wait(lock, [&] { return FClosing || FQueuedBytes == 0 || FQueuedBytes + length <= FQueueLimit; });
  if (FClosing || FFailed) return false;
  FBlocks.emplace_hint(FBlocks.upper_bound(position), position, std::move(block));
  block.clear();
  FQueuedBytes += length;
  FQueued.notify_one();
  return true;
}

bool TBGFileStream::Queue(int64_t position, const void* data, size_t length) {
  std::vector<char> block = Spare();
  const char* bytes = static_cast<const char*>(data);
  block.assign(bytes, bytes + length);
  return Queue(position, std::move(block));
}

std::vector<char> TBGFileStream::Spare() {
  std::lock_guard<std::mutex> guard(FLock);
  if (FSpares.empty()) return {};
  std::vector<char> block = std::move(FSpares.back());
  FSpares.pop_back();
  FSpareBytes -= block.capacity();
  return block;
}

bool TBGFileStream::Failed() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FFailed;
}

size_t TBGFileStream::QueuedBytes() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FQueuedBytes;
}

// Writes the block with the lowest position. A block that cannot be written
// is dropped without a written report, and so is every block after it: the
// owner hears of the failure once and fails the download.
bool TBGFileStream::WriteNext() {
  std::vector<char> data;
  int64_t position;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FBlocks.empty()) return false;
    auto first = FBlocks.begin();
    position = first->first;
    data = std::move(first->second);
    FBlocks.erase(first);
    FWriting = true;
  }
  bool written = false, firstFailure = false;
  std::string reason;
  if (!Failed()) {
    try {
      FFile.Seek(position);
      FFile.WriteBuffer(data.data(), data.size());
      written = true;
    } catch (const EFileError& e) {
      reason = e.what();
      DebugOutput(Format("TBGFileStream write error at %lld: %s", static_cast<long long>(position), e.what()));
    }
  }
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!written && !FFailed) FFailed = firstFailure = true;
  }
  // The reports come before the block stops counting as in flight, so that
  // Drain returns only after the owner has heard of every block.
  if (written && OnWritten) OnWritten(position, static_cast<int64_t>(data.size()));
  if (firstFailure && OnWriteError) OnWriteError(position, reason);
  {
    std::lock_guard<std::mutex> guard(FLock);
    FQueuedBytes -= data.size();
    FWriting = false;
    if (FSpareBytes + data.capacity() <= FQueueLimit / 2) {
      FSpareBytes += data.capacity();
      data.clear();
      FSpares.push_back(std::move(data));
    }
  }
  FWritten.notify_all();
  return true;
}

void TBGFileStream::Execute() {
  for (;;) {
    if (WriteNext()) continue;
    std::unique_lock<std::mutex> lock(FLock);
    if (FClosing && FBlocks.empty()) return;
    FQueued.wait_for(lock, std::chrono::milliseconds(10), [this] { return FClosing || !FBlocks.empty(); });
  }
}

void TBGFileStream::Close() {
  TerminateAndWait();
  while (WriteNext()) {
  }
}

void TBGFileStream::Drain() {
  {
    std::unique_lock<std::mutex> lock(FLock);
    FWritten.wait(lock, [this] { return (FBlocks.empty() && !FWriting) || FClosing; });
  }
  while (WriteNext()) {
  }
  FFile.Flush();
}
