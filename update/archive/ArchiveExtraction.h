// The two ways the update run unpacks archives: a per-file archive (a
// manifest entry served as File + ".zip"), of which only the file File is
// unpacked into its folder, and the full package, unpacked with its folders
// where it lies.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

struct TArchiveHooks {
  // Start of an entry; the update thread sets `skip` when its run is cancelled.
  std::function<void(int index, const std::string& target, int entryCount, bool& skip)> OnStartEntry;
  std::function<void(int percent)> OnFilePercent;
  std::function<void(int percent)> OnTotalPercent;  // the full package only
  std::function<void(const std::string& text)> OnStatus;
  std::function<bool()> IsCancelled;
};

struct TArchiveResult {
  int filesExtracted = 0;
  int64_t archiveSize = 0;  // -1 when the archive cannot be examined
  bool writeFailed = false;  // an entry could not be written (a full disk)
  int64_t unpackedSize = 0;  // what the entries hold once unpacked
  std::string error;         // why the first entry failed, "" when none did
};

// The one file a per-file archive must yield.
struct TArchiveEntryCheck {
  std::string File;    // the manifest's File: the entry is found by its file name
  std::string Md5;     // the manifest's Hash, compared exactly
  std::string Sha256;  // empty: not taken
};

// Only the entry named by `check.File` (see TZipExtractOptions::OnlyFile)
// is written, into a temporary file in `folder`, and replaces the file of
// its name there only when its MD5 (and SHA-256, when given) are those of
// `check`; every other entry is left and logged. filesExtracted is 1 when
// the file was replaced.
TArchiveResult ExtractFileArchive(const std::string& archive, const std::string& folder,
                                  const TArchiveEntryCheck& check, const TArchiveHooks& hooks);

// Every entry below the archive's own folder with its stored folders; the
// archive is deleted when files were extracted and the run was not
// cancelled. False when nothing was extracted or the run was cancelled.
bool ExtractPackage(const std::string& archive, const TArchiveHooks& hooks);

// The status line of the start hook: "解包 %s %d/%d" with the target's file
// name, the entry index and the number of entries.
std::string EntryStartStatus(const std::string& target, int index, int entryCount);
