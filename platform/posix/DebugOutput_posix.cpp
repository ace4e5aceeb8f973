#include <cstdio>
#include <cstdlib>

#include "platform/SystemDebugOutput.h"

// LAUNCHER_QUIET silences the stderr copy (tests and fuzzers, which watch the
// lines through the observer instead).
void WriteSystemDebugOutput(const std::string& line) {
  static const bool quiet = std::getenv("LAUNCHER_QUIET") != nullptr;
  if (!quiet) std::fprintf(stderr, "%s\n", line.c_str());
}
