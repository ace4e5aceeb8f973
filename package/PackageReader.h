// Reads and checks the package appended to the launcher's own executable.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "package/LauncherConfig.h"

// Where the verified skin and positions blocks lie in the program file;
// 0 when not verified.
struct TPackageLocations {
  int32_t resoffset = 0;
  int32_t ressize = 0;
  int32_t posoffset = 0;
  int32_t possize = 0;
};

extern TPackageLocations PackageLocations;

// Reads the package of `exePath` into `config` and `locations`, logging every
// step. A missing or damaged package leaves them empty. Only a failure to
// open or read the file itself is thrown (EFileError).
void ReadPackage(const std::string& exePath, const std::string& launcherBaseName, TLauncherConfig& config,
                 TPackageLocations& locations);

// Reads the running program's package into the process-wide values. Called
// once, by the main window's creation step.
void initconfig();

// Receives the bytes of one skin image while its file is still open; the
// Windows build turns them into a bitmap here. Returns false when the image
// could not be made.
using TSkinImageDecoder = std::function<bool(std::vector<uint8_t>& bytes)>;

// Reads the skin record at `cursor` (advanced past it) from `exePath`.
// Returns the image bytes, or nothing when the record is empty or leaves the
// skin block. `decode`, when given, runs before the file is closed and logs
// the decoding steps; without it those log lines are written here.
std::optional<std::vector<uint8_t>> ReadSkinImageFrom(const std::string& exePath, const TPackageLocations& locations,
                                                      const std::string& label, int32_t& cursor,
                                                      const TSkinImageDecoder& decode = {});
std::optional<std::vector<uint8_t>> ReadSkinImage(const std::string& label, int32_t& cursor,
                                                  const TSkinImageDecoder& decode = {});

// Reads the signed 16-bit entry at `cursor` and advances it by 2. An entry
// outside the positions block gives nothing, so the caller keeps its default.
std::optional<int> ReadPosEntryFrom(const std::string& exePath, const TPackageLocations& locations,
                                    const std::string& label, int32_t& cursor);
std::optional<int> ReadPosEntry(const std::string& label, int32_t& cursor);
