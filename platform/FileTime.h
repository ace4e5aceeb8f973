// File times in the packed DOS form (local time) that archives and the update
// state use.
#pragma once
#include <cstdint>
#include <string>

// High word: DOS date; low word: DOS time. False when the file cannot be examined.
bool GetFileDosDateTime(const std::string& path, uint32_t& dosDateTime);
// One look at a path: whether it is a file (not a folder), and its last-write
// time as GetFileDosDateTime gives it. A walk over many files that needs both
// asks the file system once instead of twice.
struct TFileCheck {
  bool isFile = false;
  bool hasTime = false;
  uint32_t dosDateTime = 0;
};
TFileCheck CheckFile(const std::string& path);
// Sets the last-write time from a DOS date and time in local time.
bool SetFileDosDateTime(const std::string& path, uint32_t dosDateTime);
// Sets the last-write time from seconds since 1970-01-01 UTC.
bool SetFileUnixTime(const std::string& path, int64_t unixSeconds);
