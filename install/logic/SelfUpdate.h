// The self-update file swap. A running program cannot overwrite its own
// file, so a new launcher arrives beside the old one as <base>.update. The
// check compares the two and starts the new one; started under that name the
// program copies itself over <base>.exe, starts it and ends.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The system calls of the swap; the defaults are the platform's own.
struct TSelfUpdateOperations {
  std::function<void(const std::string& imageName)> KillProcesses;
  std::function<void(uint32_t milliseconds)> Sleep;
  // True when the program was started.
  std::function<bool(const std::string& path, const std::string& arguments)> Start;
  std::function<bool(const std::string& from, const std::string& to)> Copy;
  // Clears read-only and the like; nothing where files have no such attributes.
  std::function<void(const std::string& path)> ClearAttributes;
  std::function<bool(const std::string& path)> Delete;

  static TSelfUpdateOperations Platform();
};

struct TSelfUpdateTiming {
  uint32_t CheckDelayMs = 200;  // after ending running copies of <base>.update
  uint32_t SwapDelayMs = 500;   // the launcher that started the swap is ending
  // The copy over <base>.exe is tried this often, this far apart, then given up.
  int CopyAttempts = 50;
  uint32_t CopyIntervalMs = 100;
};

enum class TSelfUpdateCheck {
  NothingToDo,  // a file is missing, or both are the same
  Started,      // <base>.update runs; the application must end
  StartFailed,  // they differ but <base>.update could not be started
  Refused       // <base>.update is not what the launcher run accepted: deleted
};

// The digests of one launcher entry (isLauncher) of a manifest.
struct TLauncherEntryDigests {
  std::string Md5;     // the entry's Hash
  std::string Sha256;  // the entry's Sha256; empty when the manifest has none
};

// What the launcher run that just ended accepted for <base>.update: the
// launcher entries of its manifest (none when it accepted no manifest), and
// whether that manifest's signature was checked (a package key is set).
struct TAcceptedUpdate {
  bool Signed = false;
  std::vector<TLauncherEntryDigests> Entries;
};

// Why a <base>.update whose digests are `md5` and `sha256` must not be
// started; empty when it equals an accepted entry: the MD5 always, the
// SHA-256 where the entry has one, and a signed run's entry must have one.
std::string SelfUpdateRefusal(const TAcceptedUpdate& accepted, const std::string& md5, const std::string& sha256);

// <folder><base>.exe against <folder><base>.update, by file digest, for the
// program at `programPath` (whatever its own extension). A differing
// <base>.update is started only when SelfUpdateRefusal finds nothing
// against it; otherwise it is deleted and the reason logged.
TSelfUpdateCheck SelfUpdateCheck(const std::string& programPath, const TSelfUpdateOperations& operations,
                                 const TAcceptedUpdate& accepted,
                                 const TSelfUpdateTiming& timing = TSelfUpdateTiming());

// True when a program of this path runs the swap instead of the launcher:
// its extension is ".update" in any letter case.
bool IsSelfUpdateProgram(const std::string& programPath);

// The swap, run by the program at `programPath` (<folder><base>.update):
// copies itself over <folder><base>.exe and starts that. False when the copy
// never succeeded within the attempts or the start failed (both logged).
bool RunSelfUpdateSwap(const std::string& programPath, const TSelfUpdateOperations& operations,
                       const TSelfUpdateTiming& timing = TSelfUpdateTiming());
