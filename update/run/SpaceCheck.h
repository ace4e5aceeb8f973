// The room an update run needs on the install folder's volume, worked out
// before anything is written. Files are written one after another, each
// first as a temporary copy beside the old one (the download engine's
// ".!tmp", a chunked update's ".!new", the launcher's own file in its
// staging folder) that then replaces it; a zipped entry keeps its archive
// while the file inside is unpacked beside the old one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TSpaceItem {
  int64_t Size = 0;     // bytes to transfer (the archive for a zipped entry)
  int64_t OldSize = 0;  // the file it replaces, 0 when none
  bool IsZip = false;
};

// The highest number of bytes beyond what the disk holds now that the items
// need at any moment, written in this order. A zipped entry's unpacked size
// is not known before its archive arrives: it counts as the larger of the
// archive and the old file.
int64_t PeakSpaceNeeded(const std::vector<TSpaceItem>& items);

// "12.3 MB" (MiB, one decimal) or "512 KB" below one MiB.
std::string FormatByteSize(int64_t bytes);
