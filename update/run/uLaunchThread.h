// Unit uLaunchThread: the update run's manifests, local state, compare and
// verification (TUpdateFiles), and the archive extraction it calls. The
// update thread builds on these.
#pragma once
#include <string>

#include "update/archive/ArchiveExtraction.h"
#include "update/manifest/Manifest.h"
#include "update/manifest/UpdateFiles.h"

// The two runs: the client's files, then the launcher's own.
constexpr const char* ClientManifestName = "update.json";
constexpr const char* LauncherManifestName = "updateL.json";

// "data\update%d.local" for a run's mode.
inline std::string StateFileName(int mode) { return "data\\update" + std::to_string(mode) + ".local"; }
