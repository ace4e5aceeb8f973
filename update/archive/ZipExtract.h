// Extraction of a ZIP archive into a folder: stored and deflated entries,
// ZIP64, CRC-32 checked, each entry's output bounded by its declared size.
// An entry is written beside its target and renamed over it only when it is
// complete and its CRC matches, so a bad entry never replaces a good file.
// Entries whose names would leave the folder are rejected with a log line.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// The options of the extraction, named as the update thread sets them.
struct TZipExtractOptions {
  bool DoAll = true;                     // every entry; false: only OnlyFile
  // With DoAll false, the one entry written: the first whose file name
  // (stored folders left aside) names the same file as this one's on
  // Windows (letter case ignored). Every other entry is left and logged.
  std::string OnlyFile;
  // Take the written entry's SHA-256 for AcceptEntry too.
  bool Sha256 = false;
  std::string OverwriteMode = "Always";  // "Always" replaces; "Never" keeps existing files
  std::string DestDir;                   // the folder that receives the entries
  bool RecreateDirs = false;             // recreate the stored folders below DestDir
  std::string ZipAction = "zaReplace";   // carried for the caller; no effect here
};

// What a written entry holds, taken as it was written: its size, its MD5 as
// the file digest spells it (32 "0" for an empty entry) and, when asked
// for, its SHA-256 (64 lowercase hexadecimal digits).
struct TZipEntryDigests {
  uint64_t Size = 0;
  std::string Md5;
  std::string Sha256;
};

// Hooks, all called on the thread that runs Extract.
struct TZipExtractHooks {
  // With DoAll false: whether the entry, complete beside its target, may
  // replace it; false (with why) leaves the target as it was.
  std::function<bool(const TZipEntryDigests& digests, std::string& why)> AcceptEntry;
  // Before an entry is written; setting `skip` leaves it out.
  std::function<void(int index, const std::string& target, int entryCount, bool& skip)> OnStartEntry;
  // 0..100 of the entry being written by the calling thread.
  std::function<void(int percent)> OnFilePercent;
  // 0..100 of all entries' bytes.
  std::function<void(int percent)> OnTotalPercent;
};

class TZipExtractor {
public:
  TZipExtractOptions Options;
  TZipExtractHooks Hooks;
  // Entries may be written by this many threads at once (1 = only the
  // caller's). The result is the same for any count: entries with the same
  // target are never written at the same time.
  unsigned Threads = 2;

  // The number of files written; 0 when the archive cannot be read.
  int Extract(const std::string& archive);
  // Set by Extract when an entry could not be created or written (a full
  // disk, a lost device), as against a damaged archive.
  bool WriteFailed = false;
  // The bytes the archive's files hold once unpacked (set when it was read).
  uint64_t UnpackedBytes = 0;
  // Why the first entry that was not written failed (or why the archive
  // could not be read), with the system's error text; empty when none failed.
  std::string FirstError;
};

// Reads every entry through as extraction would, writing nothing: true when
// each one has its declared size and CRC-32.
bool TestZipArchive(const std::string& archive, std::string& error);
