#include "update/run/SpaceCheck.h"

#include <algorithm>

#include "common/Format.h"

int64_t PeakSpaceNeeded(const std::vector<TSpaceItem>& items) {
  int64_t kept = 0;  // what the files written so far added (or freed)
  int64_t peak = 0;
  for (const TSpaceItem& item : items) {
    const int64_t size = std::max<int64_t>(item.Size, 0);
    const int64_t old = std::max<int64_t>(item.OldSize, 0);
    if (item.IsZip) {
      const int64_t unpacked = std::max(size, old);
      peak = std::max(peak, kept + size + unpacked);
      kept += unpacked - old;
    } else {
      peak = std::max(peak, kept + size);
      kept += size - old;
    }
  }
  return peak;
}

std::string FormatByteSize(int64_t bytes) {
  if (bytes < (1 << 20)) return Format("%lld KB", static_cast<long long>((std::max<int64_t>(bytes, 0) + 1023) / 1024));
  return Format("%.1f MB", static_cast<double>(bytes) / 1048576.0);
}
