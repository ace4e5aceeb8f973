// The package reader on arbitrary program files: no crash, no read outside
// the file, whatever the trailer says.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/FuzzTempFolder.h"
#include "package/PackageReader.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzTempFolder() + "launcher_a_b.exe";
  {
    TFileStream file(path, TFileMode::CreateTruncate);
    file.WriteBuffer(data, size);
  }
  TLauncherConfig config;
  TPackageLocations locations;
  try {
    ReadPackage(path, "launcher_a_b", config, locations);
    int32_t cursor = locations.resoffset;
    for (int i = 0; i < 4; ++i) ReadSkinImageFrom(path, locations, "img", cursor);
    cursor = locations.posoffset + 8;
    for (int i = 0; i < 4; ++i) ReadPosEntryFrom(path, locations, "pos", cursor);
  } catch (const EFileError&) {
  }
  return 0;
}
