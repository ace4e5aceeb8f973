// The ZIP central directory reader on arbitrary archives: no crash, no read
// outside the input, bounded memory, whatever the end records claim.
#include <cstdint>
#include <string>

#include "update/archive/ZipDirectory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TZipMemorySource source(data, size);
  TZipDirectory directory;
  std::string error;
  TZipLimits limits;
  limits.MaxEntries = 4096;
  limits.MaxDirectoryBytes = 1 << 20;
  if (!ReadZipDirectory(source, directory, error, limits)) return 0;
  for (const TZipEntry& entry : directory.Entries) {
    int64_t offset = 0;
    if (LocateEntryData(source, directory, entry, offset, error) &&
        (offset < 0 || offset + static_cast<int64_t>(entry.CompressedSize) > static_cast<int64_t>(size)))
      __builtin_trap();
  }
  return 0;
}
