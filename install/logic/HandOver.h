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
// directory) until it is gone or the attempts are used up; true when no such
// file is left. Nothing for an empty argument.
bool DeleteHandedOverFile(const std::string& argument1, const THandOverTiming& timing = THandOverTiming());
