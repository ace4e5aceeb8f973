#include "http/ResumeRecord.h"

#include <algorithm>

#include "common/Format.h"
#include "common/PathUtils.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"

TResumeRecord::TResumeRecord(std::string path, int64_t totalSize, std::string url, std::string lastModified)
    : FPath(std::move(path)), FTotal(totalSize), FUrl(std::move(url)), FLastModified(std::move(lastModified)) {}

void TResumeRecord::SetMissing(const std::vector<TByteRange>& missing) {
  std::vector<TByteRange> sorted = missing;
  std::sort(sorted.begin(), sorted.end(), [](const TByteRange& a, const TByteRange& b) { return a.start < b.start; });
  std::lock_guard<std::mutex> guard(FLock);
  FDone.clear();
  FDoneBytes = 0;
  int64_t next = 0;
  auto addDone = [this](int64_t start, int64_t end) {
    if (end < start) return;
    FDone[start] = end;
    FDoneBytes += end - start + 1;
  };
  for (const TByteRange& range : sorted) {
    const int64_t start = std::max<int64_t>(range.start, 0), end = std::min(range.end, FTotal - 1);
    if (end < start || end < next) continue;
    addDone(next, start - 1);
    next = std::max(next, end + 1);
  }
  addDone(next, FTotal - 1);
  FChanged = false;
}

void TResumeRecord::MarkWritten(int64_t position, int64_t length) {
  if (length <= 0) return;
  int64_t start = std::max<int64_t>(position, 0), end = std::min(position + length - 1, FTotal - 1);
  if (end < start) return;
  std::lock_guard<std::mutex> guard(FLock);
  // Merge with every interval that overlaps or touches [start, end].
  auto it = FDone.upper_bound(start);
  if (it != FDone.begin()) {
    auto before = std::prev(it);
    if (before->second + 1 >= start) it = before;
  }
  while (it != FDone.end() && it->first <= end + 1) {
    start = std::min(start, it->first);
    end = std::max(end, it->second);
    FDoneBytes -= it->second - it->first + 1;
    it = FDone.erase(it);
  }
  FDone[start] = end;
  FDoneBytes += end - start + 1;
  FChanged = true;
}

int64_t TResumeRecord::WrittenBytes() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FDoneBytes;
}

bool TResumeRecord::Complete() const { return WrittenBytes() >= FTotal; }

bool TResumeRecord::Changed() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FChanged;
}

std::vector<TByteRange> TResumeRecord::MissingLocked() const {
  std::vector<TByteRange> missing;
  int64_t next = 0;
  for (const auto& [start, end] : FDone) {
    if (start > next) missing.push_back({next, start - 1});
    next = end + 1;
  }
  if (next < FTotal) missing.push_back({next, FTotal - 1});
  return missing;
}

std::vector<TByteRange> TResumeRecord::Missing() const {
  std::lock_guard<std::mutex> guard(FLock);
  return MissingLocked();
}

std::string TResumeRecord::Text() const {
  std::vector<TByteRange> missing = Missing();
  if (missing.size() > MaxRanges) {
    missing[MaxRanges - 1].end = missing.back().end;
    missing.resize(MaxRanges);
  }
  std::string text = "[Setup]\r\nURL=" + FUrl + "\r\nLastModified=" + FLastModified +
                     "\r\nFileSize=" + std::to_string(static_cast<long long>(FTotal)) + "\r\n[Chunks]\r\n";
  for (size_t i = 0; i < missing.size(); ++i)
    text += Format("Chunk%03X=%lld-%lld\r\n", static_cast<unsigned>(i), static_cast<long long>(missing[i].start),
                   static_cast<long long>(missing[i].end));
  return text;
}

// Named after a device ("com1.bin.!dl"), the resume file and its temporary
// one would be the device itself, and their delete would reach its target.
bool TResumeRecord::NamesAFile() const { return !IsReservedComponent(ExtractFileName(FPath)); }

bool TResumeRecord::Save() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FChanged = false;
  }
  if (!NamesAFile()) {
    DebugOutput("resume file refused: " + FPath + " names a device or a name Windows changes");
    return false;
  }
  const std::string text = Text();
  const std::string temporary = FPath + ".tmp";
  try {
    {
      TFileStream file(temporary, TFileMode::CreateTruncate);
      file.WriteBuffer(text.data(), text.size());
    }
    if (RenameFileAt(temporary, FPath)) return true;
    DebugOutput("resume file not replaced: " + FPath + " " + LastFileErrorText());
  } catch (const EFileError& e) {
    DebugOutput(std::string("resume file not written: ") + e.what());
  }
  DeleteFileAt(temporary);
  std::lock_guard<std::mutex> guard(FLock);
  FChanged = true;
  return false;
}

void TResumeRecord::Remove() {
  if (!NamesAFile()) return;
  DeleteFileAt(FPath + ".tmp");
  DeleteFileAt(FPath);
}
