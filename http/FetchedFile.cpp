#include "http/FetchedFile.h"

#include "common/Format.h"
#include "common/Md5.h"
#include "common/TextCase.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/Tick.h"

std::string FetchedFileFault(const std::string& name, int64_t size, int64_t expectedSize,
                             const std::string& expectedMd5, const std::function<std::string()>& digestOf) {
  if (expectedSize >= 0 && size != expectedSize)
    return Format("%s: %lld bytes, %lld expected", name.c_str(), static_cast<long long>(size),
                  static_cast<long long>(expectedSize));
  if (expectedMd5.empty()) return std::string();
  const std::string digest = digestOf();
  if (digest.empty()) return name + ": the check was stopped";
  const bool agrees = size == 0 ? IsEmptyDigest(expectedMd5) : SameText(digest, expectedMd5);
  if (agrees) return std::string();
  return Format("%s: MD5 %s, expected %s", name.c_str(), digest.c_str(), expectedMd5.c_str());
}

bool RenameWithRetries(const std::string& from, const std::string& to, uint32_t retries, uint32_t retryMs,
                       const std::function<bool()>& stopped) {
  for (uint32_t attempt = 0;; ++attempt) {
    if (RenameFileAt(from, to)) return true;
    if (attempt >= retries || (stopped && stopped())) return false;
    if (attempt == 0) DebugOutput(to + ": cannot be replaced yet, trying again: " + LastFileErrorText());
    SleepMs(retryMs);
  }
}
