#include "platform/DiskSpace.h"

#include <windows.h>

#include "platform/win32/WidePath.h"

int64_t FreeDiskSpace(const std::string& folder) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(WidePath(folder).c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}
