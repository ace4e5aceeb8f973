// The compare of the manifest with the disk. The walk applies the elements in
// manifest order on the calling thread, so the results, messages and state
// table are those of a plain walk; files without a state entry are handed
// ahead of it to TDigestAhead, whose helpers digest them meanwhile.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <exception>

#include "common/Format.h"
#include "common/PathUtils.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Tick.h"
#include "signing/Crypto.h"
#include "update/manifest/DigestAhead.h"
#include "update/manifest/UpdateFiles.h"
#include "update/run/UpdateTexts.h"

namespace {

// How far the walk plans ahead: elements read, and bytes of files queued for
// their digests (each file counts a page more, for the small ones).
constexpr size_t AheadElements = 1024;
constexpr int64_t AheadDigestBytes = 64 << 20;
// A repair names a file at most this often, and every file this large.
constexpr uint32_t NamingIntervalMs = 100;
constexpr int64_t AlwaysNamedBytes = 4 << 20;

}  // namespace

struct TUpdateFiles::TCompareStep {
  size_t index = 0;
  std::exception_ptr error;  // a wrong JSON type, raised when the step is reached
  TManifestEntry entry;
  std::string localName;
  bool safe = false;
  size_t sameFileAs = SIZE_MAX;  // index of an earlier needed entry for the same file
  bool digestQueued = false;
  bool digestLater = false;
  uint64_t ticket = 0;
  int64_t bytes = 0;
};

int TUpdateFiles::CompareFiles(TDownloadList& list) {
  // LoadState's look at the files serves this compare only.
  struct TForgetLoadChecks {
    bool& valid;
    ~TForgetLoadChecks() { valid = false; }
  } forget{FLoadChecksValid};
  FBytesDone = FBytesTotal = FBytesToDownload = FBytesUnchecked = 0;
  FFilesChecked = 0;
  FNamedAt = GetTickCount32() - NamingIntervalMs;
  FFirstEntryOf.clear();
  FRefused.clear();
  const size_t count = FManifest.Count();
  TDigestAhead digests(FDigestThreads);
  std::deque<TCompareStep> ahead;
  int64_t aheadBytes = 0;
  size_t planned = 0;
  bool planning = true;
  for (size_t i = 0; i < count; ++i) {
    while (planning && planned < count && ahead.size() < AheadElements &&
           (aheadBytes < AheadDigestBytes || ahead.empty())) {
      ahead.push_back(PlanStep(planned++, digests));
      aheadBytes += ahead.back().bytes;
      // The walk stops at a wrong element; nothing after it is needed.
      if (ahead.back().error) planning = false;
    }
    TCompareStep step = std::move(ahead.front());
    ahead.pop_front();
    aheadBytes -= step.bytes;
    if (Cancelled()) return CompareNothingToDo;
    ApplyStep(step, digests, list);
  }
  TotalProgress(FBytesDone, FBytesTotal);
  // Copies left undigested may be right: they never make the folder look
  // mostly missing (the full package would replace them all).
  if (10 * (FBytesDone + FBytesUnchecked) < FBytesTotal) return CompareMostlyMissing;
  return FBytesToDownload > 0 ? CompareFilesToFetch : CompareNothingToDo;
}

TUpdateFiles::TCompareStep TUpdateFiles::PlanStep(size_t index, TDigestAhead& digests) {
  TCompareStep step;
  step.index = index;
  try {
    step.entry = FManifest.Entry(index);
  } catch (const EUpdateJsonError&) {
    step.error = std::current_exception();
    return step;
  }
  if (!step.entry.Need) return step;
  step.localName = LocalName(step.entry);
  step.safe = IsSafeRelativePath(step.entry.File);
  if (!step.safe) return step;
  // The first entry for a file keeps it; on Windows a later one would
  // overwrite the same file, and each run would fetch the other again.
  const auto first = FFirstEntryOf.emplace(WindowsPathKey(step.localName), index);
  if (!first.second) {
    step.sameFileAs = first.first->second;
    return step;
  }
  if (!FTable.Find(step.localName)) {
    step.digestLater = DigestLater && !step.entry.IsZip && step.entry.isLauncher == 0 &&
                       step.entry.Size >= DigestLaterFloor && DigestLater(step.entry);
    if (step.digestLater) return step;
    step.ticket = digests.Add(FFolder + step.localName);
    step.digestQueued = true;
    step.bytes = std::max<int64_t>(step.entry.Size, 0) + 4096;
  }
  return step;
}

// A refused entry is a needed file the run cannot make right.
void TUpdateFiles::Refuse(const TManifestEntry& entry, const std::string& why) {
  Log(why);
  FRefused.push_back(entry.File);
}

bool TUpdateFiles::FileExistsAsLoaded(const std::string& localName, const TStateEntry* recorded,
                                      const std::string& path) const {
  // LoadState looked at the file under the very same name (names that
  // differ in case may be different files on some file systems).
  if (FLoadChecksValid && recorded && recorded->seenAtLoad && recorded->name == localName) return true;
  return FileExists(path);
}

void TUpdateFiles::ApplyStep(TCompareStep& step, TDigestAhead& digests, TDownloadList& list) {
  static const std::string checking = UpdateText::CheckingFile;
  if (step.error) std::rethrow_exception(step.error);
  const TManifestEntry& entry = step.entry;
  if (!entry.Need) return;
  if (!step.safe) {
    Refuse(entry, "unsafe file name rejected: " + entry.File);
    return;
  }
  if (step.sameFileAs != SIZE_MAX) {
    Refuse(entry, "entry refused: \"" + entry.File + "\" names the same file as the earlier entry \"" +
                      FManifest.Entry(step.sameFileAs).File + "\"");
    return;
  }
  if (RequireSha256 && (!IsSha256Text(entry.Sha256) || (entry.IsZip && !IsSha256Text(entry.ZipSha256)))) {
    const char* missing = IsSha256Text(entry.Sha256) ? "ZipSha256" : "Sha256";
    Refuse(entry, "entry refused: \"" + entry.File + "\" has no " + missing + " in the signed manifest");
    return;
  }
  ++FFilesChecked;
  const int64_t position = static_cast<int64_t>(step.index) + 1, count = static_cast<int64_t>(FManifest.Count());
  if (NameEveryFile) {
    const uint32_t now = GetTickCount32();
    if (now - FNamedAt >= NamingIntervalMs || entry.Size >= AlwaysNamedBytes || position == count) {
      FNamedAt = now;
      Status(Format(UpdateText::RepairChecking, step.localName.c_str(), static_cast<int>(position),
                    static_cast<int>(count)));
      TotalProgress(position, count);
      if (OnCurrentProgress) OnCurrentProgress(entry.Size, entry.Size);
    }
  } else if (step.index % 10 == 0) {
    Status(checking + step.localName);
    TotalProgress(position, count);
  }
  FBytesTotal += entry.Size;
  const std::string path = FFolder + step.localName;
  // Results are taken in the order they were queued, used or not.
  const TDigestResult ahead = step.digestQueued ? digests.Take(step.ticket) : TDigestResult{};
  TStateEntry* recorded = FTable.Find(step.localName);
  const bool exists = ahead.done ? ahead.check.isFile : FileExistsAsLoaded(step.localName, recorded, path);
  bool valid = false;
  if (!exists) {
    FTable.Remove(step.localName);
    FStateChanged = true;
  } else if (recorded) {
    // A recorded digest is trusted: LoadState digested again every file whose time changed.
    valid = DigestAgrees(recorded->digest, entry.Hash, path);
    if (!valid) {
      FTable.Remove(step.localName);
      FStateChanged = true;
    }
  } else if (step.digestLater) {
    // Listed as it is; the one who fetches it digests it first.
    FBytesUnchecked += entry.Size;
  } else {
    const std::string digest = ahead.done ? ahead.digest : FileDigest(path);
    valid = DigestAgrees(digest, entry.Hash, path);
    if (valid) {
      uint32_t time = ahead.done && ahead.check.hasTime ? ahead.check.dosDateTime : 0;
      if (!ahead.done) GetFileDosDateTime(path, time);
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
    list.push_back({entry.File, entry.isLauncher, entry.Hash, entry.Size, entry.IsZip, exists && step.digestLater,
                    entry.Sha256, entry.ZipHash, entry.ZipSha256});
    FBytesToDownload += entry.Size;
  }
}
