// The compare of the manifest with the disk. Files without a state entry are
// digested ahead, a block of manifest elements at a time, on several threads;
// the block is then applied in manifest order on the calling thread, so the
// results, messages and state table are those of a plain walk.
#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "update/UpdateTexts.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "update/UpdateFiles.h"

namespace {

constexpr size_t BlockElements = 256;
constexpr int64_t BlockDigestBytes = 64 << 20;

}  // namespace

struct TUpdateFiles::TCompareStep {
  size_t index = 0;
  std::exception_ptr error;  // a wrong JSON type, raised when the step is reached
  TManifestEntry entry;
  std::string localName;
  bool digestWanted = false;
  bool digestReady = false;
  std::string digest;
};

int TUpdateFiles::CompareFiles(TDownloadList& list) {
  FBytesDone = FBytesTotal = FBytesToDownload = 0;
  if (!FManifest.is_array()) return CompareNothingToDo;
  std::vector<TCompareStep> block;
  int64_t blockBytes = 0;
  bool stopped = false;
  for (size_t i = 0; i < FManifest.size() && !stopped; ++i) {
    TCompareStep step;
    step.index = i;
    try {
      step.entry = ReadManifestEntry(FManifest[i]);
    } catch (const EUpdateJsonError&) {
      step.error = std::current_exception();
    }
    if (!step.error && step.entry.Need) {
      step.localName = LocalName(step.entry);
      step.digestWanted = IsSafeRelativePath(step.entry.File) && !FTable.Find(step.localName);
      if (step.digestWanted) blockBytes += std::max<int64_t>(step.entry.Size, 0) + 4096;
    }
    const bool failed = step.error != nullptr;
    block.push_back(std::move(step));
    if (block.size() >= BlockElements || blockBytes >= BlockDigestBytes || failed) {
      CompareBlock(block, list, stopped);
      block.clear();
      blockBytes = 0;
    }
  }
  if (!stopped && !block.empty()) CompareBlock(block, list, stopped);
  if (stopped) return CompareNothingToDo;
  TotalProgress(FBytesDone, FBytesTotal);
  if (10 * FBytesDone < FBytesTotal) return CompareMostlyMissing;
  return FBytesToDownload > 0 ? CompareFilesToFetch : CompareNothingToDo;
}

void TUpdateFiles::DigestBlock(std::vector<TCompareStep>& block) const {
  std::vector<TCompareStep*> jobs;
  for (TCompareStep& step : block)
    if (step.digestWanted) jobs.push_back(&step);
  if (jobs.size() < 2 || FDigestThreads < 2) return;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  auto work = [&](bool caller) {
    for (size_t k; !stop.load() && (k = next.fetch_add(1)) < jobs.size();) {
      const std::string path = FFolder + jobs[k]->localName;
      try {
        jobs[k]->digest = FileExists(path) ? FileDigest(path) : std::string();
        jobs[k]->digestReady = true;
      } catch (...) {
        // Left to the apply step, which digests the file itself.
      }
      // Only the calling thread asks the owner's hook.
      if (caller && Cancelled()) stop = true;
    }
  };
  std::vector<std::thread> helpers;
  const unsigned count = std::min<unsigned>(FDigestThreads, static_cast<unsigned>(jobs.size()));
  try {
    for (unsigned t = 1; t < count; ++t) helpers.emplace_back(work, false);
  } catch (const std::system_error&) {
    // Without another thread the calling one does all the work.
  }
  work(true);
  for (std::thread& helper : helpers) helper.join();
}

void TUpdateFiles::CompareBlock(std::vector<TCompareStep>& block, TDownloadList& list, bool& stopped) {
  static const std::string checking = UpdateText::CheckingFile;
  DigestBlock(block);
  const size_t count = FManifest.size();
  for (TCompareStep& step : block) {
    if (Cancelled()) {
      stopped = true;
      return;
    }
    if (step.error) std::rethrow_exception(step.error);
    const TManifestEntry& entry = step.entry;
    if (!entry.Need) continue;
    if (!IsSafeRelativePath(entry.File)) {
      Log("unsafe file name rejected: " + entry.File);
      continue;
    }
    if (step.index % 10 == 0) {
      Status(checking + step.localName);
      TotalProgress(static_cast<int64_t>(step.index) + 1, static_cast<int64_t>(count));
    }
    FBytesTotal += entry.Size;
    const std::string path = FFolder + step.localName;
    bool valid = false;
    if (!FileExists(path)) {
      FTable.Remove(step.localName);
      FStateChanged = true;
    } else if (TStateEntry* recorded = FTable.Find(step.localName)) {
      // A recorded digest is trusted: LoadState digested again every file whose time changed.
      valid = DigestAgrees(recorded->digest, entry.Hash, path);
      if (!valid) {
        FTable.Remove(step.localName);
        FStateChanged = true;
      }
    } else {
      const std::string digest = step.digestReady && !step.digest.empty() ? step.digest : FileDigest(path);
      valid = DigestAgrees(digest, entry.Hash, path);
      uint32_t time = 0;
      if (valid) {
        GetFileDosDateTime(path, time);
        auto added = std::make_unique<TStateEntry>();
        added->name = entry.File;
        added->isLauncher = entry.isLauncher;
        added->digest = entry.Hash;
        added->time = static_cast<int32_t>(time);
        FTable.Add(step.localName, std::move(added));
        FStateChanged = true;
      }
    }
    if (valid) {
      FBytesDone += entry.Size;
    } else {
      list.push_back({entry.File, entry.isLauncher, entry.Hash, entry.Size, entry.IsZip});
      FBytesToDownload += entry.Size;
    }
  }
}
