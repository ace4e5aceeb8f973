#include "install/logic/HandOver.h"

#include "common/Log.h"
#include "common/PathUtils.h"
#include "platform/File.h"
#include "platform/Tick.h"

bool DeleteHandedOverFile(const std::string& argument1, const THandOverTiming& timing) {
  const std::string name = ExtractFileName(argument1);
  if (name.empty()) return true;
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
