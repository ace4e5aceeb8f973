#include <windows.h>

#include "platform/FileTime.h"
#include "platform/win32/WidePath.h"

static bool ToDosDateTime(const WIN32_FILE_ATTRIBUTE_DATA& data, uint32_t& dosDateTime) {
  FILETIME local;
  WORD date, time;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return false;
  dosDateTime = static_cast<uint32_t>(date) << 16 | time;
  return true;
}

bool GetFileDosDateTime(const std::string& path, uint32_t& dosDateTime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) && ToDosDateTime(data, dosDateTime);
}

TFileCheck CheckFile(const std::string& path) {
  TFileCheck check;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return check;
  check.isFile = !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  check.hasTime = ToDosDateTime(data, check.dosDateTime);
  return check;
}

static bool SetLastWrite(const std::string& path, const FILETIME& utc) {
  HANDLE file = CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(file, nullptr, nullptr, &utc) != 0;
  CloseHandle(file);
  return ok;
}

bool SetFileDosDateTime(const std::string& path, uint32_t dosDateTime) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16), static_cast<WORD>(dosDateTime & 0xFFFF), &local) ||
      !LocalFileTimeToFileTime(&local, &utc))
    return false;
  return SetLastWrite(path, utc);
}

bool SetFileUnixTime(const std::string& path, int64_t unixSeconds) {
  const uint64_t ticks = static_cast<uint64_t>(unixSeconds) * 10000000ull + 116444736000000000ull;
  FILETIME utc;
  utc.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return SetLastWrite(path, utc);
}
