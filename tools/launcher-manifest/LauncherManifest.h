// launcher-manifest's logic: from a release folder, the update server's
// folder. For each file: a copy, optionally FILE.zip beside it, and its
// manifest element {File, isLauncher, Need, Hash, Size, IsZip}; optionally
// complete/release.json with the full package it names.
#pragma once
#include <ostream>
#include <string>
#include <vector>

// Exit code 0 on success, 1 when a file cannot be read or written, 2 on a
// usage error. Messages go to `err`, a summary to `out`.
int RunLauncherManifest(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The full package's file name below complete/ for a manifest name:
// "update-full.zip" for update.json, "updateL-full.zip" for updateL.json.
std::string FullPackageName(const std::string& manifestName);
