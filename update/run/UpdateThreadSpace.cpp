// The update run's check of the room on the install folder's volume, made
// before its first download (update/run/SpaceCheck.h).
#include "common/Format.h"
#include "platform/DiskSpace.h"
#include "platform/File.h"
#include "update/run/SpaceCheck.h"
#include "update/run/UpdateTexts.h"
#include "update/run/UpdateThread.h"

bool TUpdateThread::RoomFor(int64_t needed) {
  if (!FEnvironment.CheckSpace) return true;
  const int64_t free = FreeDiskSpace(FEnvironment.LauncherFolder);
  // A volume that cannot say how much room it has is not held up.
  if (free < 0 || needed <= free) return true;
  FDiskShort = true;
  Log(Format("the update needs %lld bytes, the volume of %s has %lld free", static_cast<long long>(needed),
             FEnvironment.LauncherFolder.c_str(), static_cast<long long>(free)));
  ShowStatus(Format(UpdateText::DiskShort, FormatByteSize(needed).c_str(), FormatByteSize(free).c_str()));
  return false;
}

// The passes take the list from its last item to its first.
bool TUpdateThread::RoomForDownloads(const TDownloadList& list) {
  std::vector<TSpaceItem> items;
  items.reserve(list.size());
  for (auto item = list.rbegin(); item != list.rend(); ++item) {
    const std::string local = item->isLauncher != 0 ? FEnvironment.LauncherBaseName + ".update" : item->File;
    items.push_back({item->Size, std::max<int64_t>(GetFileSize(FEnvironment.LauncherFolder + local), 0), item->IsZip});
  }
  return RoomFor(PeakSpaceNeeded(items));
}
