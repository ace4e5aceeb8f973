#include "install/logic/HandOver.h"

#include <cstring>
#include <vector>

#include "common/Log.h"
#include "common/PathUtils.h"
#include "platform/File.h"
#include "platform/Tick.h"

bool SameFileContent(const std::string& a, const std::string& b) {
  try {
    TFileStream first(a, TFileMode::ReadShared);
    TFileStream second(b, TFileMode::ReadShared);
    if (first.Size() != second.Size()) return false;
    std::vector<char> x(64 * 1024), y(64 * 1024);
    for (;;) {
      const size_t got = first.Read(x.data(), x.size());
      if (got == 0) return true;
      second.ReadBuffer(y.data(), got);
      if (std::memcmp(x.data(), y.data(), got) != 0) return false;
    }
  } catch (const EFileError&) {
    return false;
  }
}

bool DeleteHandedOverFile(const std::string& argument1, const std::string& programPath, const THandOverTiming& timing) {
  const std::string name = ExtractFileName(argument1);
  if (name.empty() || !FileExists(name)) return true;
  // Argument 1 may name any file: only the first copy of a hand-over goes.
  if (!SameFileContent(name, programPath)) {
    LogError("hand-over: " + name + " left, it is not a copy of this program");
    return false;
  }
  // A file that can never be deleted (the running program itself, a
  // read-only folder) must not hold the start up forever.
  for (int attempt = 0; attempt < timing.Attempts; ++attempt) {
    if (!FileExists(name)) return true;
    if (timing.Delete) timing.Delete(name);
    else DeleteFileAt(name);
    SleepMs(timing.IntervalMs);
  }
  if (!FileExists(name)) return true;
  LogError("hand-over: cannot delete " + name);
  return false;
}
