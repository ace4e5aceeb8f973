// The hand-over from a launcher started outside the game folder: the copy it
// started in the game folder gets the first copy's path as argument 1 and
// deletes that file at its own start.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

struct THandOverTiming {
  // The first copy may still be ending; it is tried this often, this far apart.
  int Attempts = 50;
  uint32_t IntervalMs = 100;
  // The deletion itself; the platform's by default.
  std::function<bool(const std::string& path)> Delete;
};

// Deletes the file named like argument 1 (its file name, in the current
// directory) until it is gone or the attempts are used up, but only when it
// is a copy of the running program at `programPath` (same size and bytes),
// as the hand-over leaves it: a document dropped on the launcher, or opened
// with it, is left where it is and the reason logged. True when no such copy
// is left. Nothing for an empty argument.
bool DeleteHandedOverFile(const std::string& argument1, const std::string& programPath,
                          const THandOverTiming& timing = THandOverTiming());

// Both files can be read and hold the same bytes.
bool SameFileContent(const std::string& a, const std::string& b);
