// The update run's view of its files: the local manifest copy, the state
// table loaded from and saved to the state file, the compare of the manifest
// with the disk, and the verification of one file. The update thread owns one
// object per run and assigns the hooks through which it reports.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Md5.h"
#include "update/manifest/LocalState.h"
#include "update/manifest/Manifest.h"
#include "update/manifest/ManifestReader.h"

class TDigestAhead;

// Reads a manifest copy of the install folder (at most 256 MiB): false when
// there is none or it does not parse; EFileError when it cannot be read.
bool ReadManifestCopy(const std::string& path, TManifest& manifest);

// One file to fetch, built by the compare.
struct TDownloadItem {
  std::string File;
  int isLauncher = 0;
  std::string Hash;
  int32_t Size = 0;
  bool IsZip = false;
  // The compare left the local copy undigested (TUpdateFiles::DigestLater):
  // it may be right already.
  bool CheckFirst = false;
  std::string Sha256;     // the manifest's, as TManifestEntry has them
  std::string ZipHash;
  std::string ZipSha256;
};
using TDownloadList = std::vector<TDownloadItem>;

// Below this size a file is digested by the compare as usual.
constexpr int32_t DigestLaterFloor = 4 << 20;

// Results of CompareFiles.
constexpr int CompareNothingToDo = 0;
constexpr int CompareFilesToFetch = 1;
constexpr int CompareMostlyMissing = 2;

// Digests of files say 32 "0" for an empty file; for a zero-length file that
// and EmptyInputMd5 (common/Md5.h) are taken as the same digest (see
// DigestAgrees).

// The file digest: 32 lowercase hexadecimal digits, 32 "0" when the file
// cannot be opened or mapped (an empty file included).
std::string FileDigest(const std::string& path);
// The buffer digest of `length` bytes.
std::string BufferDigest(const void* data, size_t length);

// Whether a digest taken of (or recorded for) the file at `path` agrees with
// the expected one: exactly equal, except that the two spellings of the empty
// file's digest (32 "0" and the MD5 of empty input) agree with each other and
// only for a file of length 0.
bool DigestAgrees(const std::string& digest, const std::string& expected, const std::string& path);

class TUpdateFiles {
public:
  // `launcherFolder` ends with a separator; `stateFile` ("data\update0.local")
  // and the manifest copy (data\ + `manifestName`) are relative to it.
  TUpdateFiles(const std::string& launcherFolder, const std::string& launcherBaseName,
               const std::string& stateFile, const std::string& manifestName);

  // Hooks of the owner; each may be left empty.
  std::function<bool()> IsCancelled;
  std::function<void(const std::string&)> OnStatus;
  std::function<void(uint32_t position, uint32_t maximum)> OnTotalProgress;
  std::function<void(const std::string&)> OnLog;
  // The current bar: bytes of the file just checked (a repair's compare).
  std::function<void(int64_t position, int64_t maximum)> OnCurrentProgress;
  // A repair: the status line names every file the compare checks with its
  // count (throttled to a few lines a second), and the current bar shows it.
  bool NameEveryFile = false;
  // Whether the compare may leave an existing local copy without a state
  // entry undigested and list it with CheckFirst: the caller digests it
  // while it reads it anyway (the chunked path cuts it into chunks). Asked
  // only for plain entries of at least DigestLaterFloor bytes.
  std::function<bool(const TManifestEntry&)> DigestLater;
  // A signed run: a needed entry without a well-formed Sha256 (and, when
  // zipped, ZipSha256) is refused like an unsafe one.
  bool RequireSha256 = false;

  // Reads the local manifest copy into compact records, a chunk of the file
  // at a time (no document tree).
  bool LoadManifest();
  void LoadState();
  void SaveState();
  // Fills `list` with the needed files that are missing or differ; returns
  // CompareNothingToDo, CompareFilesToFetch or CompareMostlyMissing. A
  // needed entry whose File is not safe (IsSafeRelativePath), or that names
  // the file of an earlier needed entry as Windows compares paths
  // (WindowsPathKey), or that lacks the digests RequireSha256 asks for, is
  // refused: logged, never checked, fetched or recorded, and listed in
  // Refused().

  int CompareFiles(TDownloadList& list);
  // Digests launcher folder + name, records the result and tells whether it
  // equals `expected`. False without touching the table when the file is missing.
  // `written` is the digest of the file's bytes when the caller took it as it
  // wrote them (empty: the file is read).
  bool VerifyFile(const std::string& name, const std::string& expected, const std::string& written = std::string());
  // The next compare must look at the disk itself: files may have changed
  // since LoadState looked at them (the full package was unpacked). Only the
  // first compare after LoadState, with nothing else in between, takes
  // LoadState's look at a file for its own.
  void DiskChanged() { FLoadChecksValid = false; }

  // The File of each needed entry the last compare refused, in manifest order.
  const std::vector<std::string>& Refused() const { return FRefused; }
  const TManifest& Manifest() const { return FManifest; }
  TStateTable& StateTable() { return FTable; }
  bool StateChanged() const { return FStateChanged; }
  void SetStateChanged() { FStateChanged = true; }
  int64_t BytesDone() const { return FBytesDone; }
  int64_t BytesTotal() const { return FBytesTotal; }
  int64_t BytesToDownload() const { return FBytesToDownload; }
  // Needed entries the last compare checked (refused ones are not).
  int FilesChecked() const { return FFilesChecked; }
  void SetByteCounts(int64_t done, int64_t total) {
    FBytesDone = done;
    FBytesTotal = total;
  }
  void AddBytesDone(int64_t bytes) { FBytesDone += bytes; }
  // Threads that digest files without a state entry during the compare (three
  // files in work per thread beyond 1); the results are the same for any count.
  void SetDigestThreads(unsigned count) { FDigestThreads = count ? count : 1; }
  // The local name of a manifest entry: File, or the launcher's base name +
  // ".update" for the launcher's own executable.
  std::string LocalName(const TManifestEntry& entry) const;
  const std::string& LauncherFolder() const { return FFolder; }

private:
  bool Cancelled() const { return IsCancelled && IsCancelled(); }
  void Status(const std::string& text) const;
  void TotalProgress(int64_t position, int64_t maximum) const;
  void Log(const std::string& text) const;
  struct TCompareStep;
  TCompareStep PlanStep(size_t index, TDigestAhead& digests);
  void ApplyStep(TCompareStep& step, TDigestAhead& digests, TDownloadList& list);
  bool FileExistsAsLoaded(const std::string& localName, const TStateEntry* recorded, const std::string& path) const;
  void Refuse(const TManifestEntry& entry, const std::string& why);

  std::string FFolder;
  std::string FBaseName;
  std::string FStateFile;
  std::string FManifestName;
  TManifest FManifest;
  TStateTable FTable{StateTableBuckets};
  bool FStateChanged = false;
  bool FLoadChecksValid = false;
  int64_t FBytesDone = 0;
  int64_t FBytesTotal = 0;
  int64_t FBytesToDownload = 0;
  int64_t FBytesUnchecked = 0;  // of copies listed with CheckFirst
  int FFilesChecked = 0;
  uint32_t FNamedAt = 0;  // tick of the last file named (NameEveryFile)
  unsigned FDigestThreads = 2;
  // The compare's needed entries by WindowsPathKey of their local name, to
  // the index of the first entry with that key.
  std::unordered_map<std::string, size_t> FFirstEntryOf;
  std::vector<std::string> FRefused;
};
