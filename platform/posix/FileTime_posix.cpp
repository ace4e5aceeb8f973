#include <sys/stat.h>
#include <time.h>
#include <utime.h>

#include "platform/FileTime.h"
#include "platform/posix/NativePath.h"

static bool ToDosDateTime(const struct stat& info, uint32_t& dosDateTime) {
  struct tm local;
  localtime_r(&info.st_mtime, &local);
  if (local.tm_year < 80) return false;  // the DOS form starts at 1980
  const uint32_t date = static_cast<uint32_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  const uint32_t time = static_cast<uint32_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
  dosDateTime = date << 16 | time;
  return true;
}

bool GetFileDosDateTime(const std::string& path, uint32_t& dosDateTime) {
  struct stat info;
  return stat(NativePath(path).c_str(), &info) == 0 && ToDosDateTime(info, dosDateTime);
}

TFileCheck CheckFile(const std::string& path) {
  TFileCheck check;
  struct stat info;
  if (stat(NativePath(path).c_str(), &info) != 0) return check;
  check.isFile = S_ISREG(info.st_mode);
  check.hasTime = ToDosDateTime(info, check.dosDateTime);
  return check;
}

static bool SetModificationTime(const std::string& path, time_t when) {
  struct utimbuf times{when, when};
  return utime(NativePath(path).c_str(), &times) == 0;
}

bool SetFileDosDateTime(const std::string& path, uint32_t dosDateTime) {
  struct tm local{};
  local.tm_year = static_cast<int>((dosDateTime >> 25) & 0x7F) + 80;
  local.tm_mon = static_cast<int>((dosDateTime >> 21) & 0x0F) - 1;
  local.tm_mday = static_cast<int>((dosDateTime >> 16) & 0x1F);
  local.tm_hour = static_cast<int>((dosDateTime >> 11) & 0x1F);
  local.tm_min = static_cast<int>((dosDateTime >> 5) & 0x3F);
  local.tm_sec = static_cast<int>((dosDateTime & 0x1F) * 2);
  local.tm_isdst = -1;
  const time_t when = mktime(&local);
  return when != static_cast<time_t>(-1) && SetModificationTime(path, when);
}

bool SetFileUnixTime(const std::string& path, int64_t unixSeconds) {
  return SetModificationTime(path, static_cast<time_t>(unixSeconds));
}
