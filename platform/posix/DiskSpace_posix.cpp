#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

#include "platform/posix/NativePath.h"

int64_t FreeDiskSpace(const std::string& folder) {
  struct statvfs info;
  if (::statvfs(NativePath(folder).c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}
