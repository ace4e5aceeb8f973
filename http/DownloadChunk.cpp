#include "http/DownloadChunk.h"

#include <algorithm>
#include <cstdlib>

#include "common/Format.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/Profile.h"

namespace {

std::string ChunkKey(size_t index) { return Format("Chunk%03X", static_cast<unsigned>(index)); }

// "start-end" or "start end"; false when there is no start or the numbers
// are not plain decimals.
bool ParseRange(const std::string& text, TByteRange& range) {
  const size_t split = text.find_first_of("- ");
  if (split == 0 || split == std::string::npos) return false;
  const std::string startText = text.substr(0, split), endText = text.substr(split + 1);
  auto isNumber = [](const std::string& s) {
    return !s.empty() && s.size() <= 18 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!isNumber(startText) || !isNumber(endText)) return false;
  range.start = std::strtoll(startText.c_str(), nullptr, 10);
  range.end = std::strtoll(endText.c_str(), nullptr, 10);
  return true;
}

}  // namespace

TDownLoadChunk::TDownLoadChunk(std::string resumePath) : FResumePath(std::move(resumePath)) {}

TDownLoadChunk::~TDownLoadChunk() {
  try {
    Save();
  } catch (const std::exception& e) {
    DebugOutput(std::string("resume file not written: ") + e.what());
  }
}

void TDownLoadChunk::Add(int64_t start, int64_t end) {
  std::lock_guard<std::mutex> guard(FLock);
  FRanges.push_back({start, end});
  FPending += end - start + 1;
}

bool TDownLoadChunk::Take(TByteRange& range) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FRanges.empty()) return false;
  range = FRanges.back();
  FRanges.pop_back();
  FPending -= range.Length();
  return true;
}

size_t TDownLoadChunk::Count() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FRanges.size();
}

int64_t TDownLoadChunk::PendingBytes() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FPending;
}

std::vector<TByteRange> TDownLoadChunk::Ranges() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FRanges;
}

void TDownLoadChunk::Split(int workers) {
  std::lock_guard<std::mutex> guard(FLock);
  const size_t target = workers < 2 ? static_cast<size_t>(std::max(workers, 0)) : static_cast<size_t>(2 * workers);
  bool floorReached = false;
  while (!floorReached && FRanges.size() < target) {
    const size_t passCount = FRanges.size();
    for (size_t i = 0; i < passCount; ++i) {
      TByteRange& old = FRanges[i];
      const int64_t half = (old.end - old.start + 1) / 2;
      if (half < MinRangeSize) {
        floorReached = true;
        break;
      }
      const TByteRange added{old.start, old.start + half};
      old.start += half + 1;
      FRanges.push_back(added);
      DebugOutput(Format("%d: %lld-%lld", static_cast<int>(FRanges.size()), static_cast<long long>(added.start),
                         static_cast<long long>(added.end)));
    }
  }
  std::stable_sort(FRanges.begin(), FRanges.end(),
                   [](const TByteRange& a, const TByteRange& b) { return a.start > b.start; });
}

int TDownLoadChunk::LoadFromResume(int64_t fileSize) {
  std::vector<TByteRange> loaded;
  for (size_t index = 0; index < 0x1000; ++index) {
    const std::string value = ReadIniString(FResumePath, "Chunks", ChunkKey(index), "\x01");
    if (value == "\x01") break;
    TByteRange range;
    if (!ParseRange(value, range) || range.end < range.start) return -1;
    if (range.start >= fileSize) continue;  // nothing of the file is in it
    range.end = std::min(range.end, fileSize - 1);
    loaded.push_back(range);
  }
  std::lock_guard<std::mutex> guard(FLock);
  for (const TByteRange& range : loaded) {
    FRanges.push_back(range);
    FPending += range.Length();
  }
  return static_cast<int>(loaded.size());
}

void TDownLoadChunk::Save() {
  std::lock_guard<std::mutex> guard(FLock);
  if (FResumePath.empty()) return;
  if (FRanges.empty()) {
    DeleteFileAt(FResumePath);
    return;
  }
  EraseIniSection(FResumePath, "Chunks");
  for (size_t i = 0; i < FRanges.size(); ++i)
    WriteIniString(FResumePath, "Chunks", ChunkKey(i),
                   Format("%lld-%lld", static_cast<long long>(FRanges[i].start), static_cast<long long>(FRanges[i].end)));
}
