#include "tools/launcher-manifest/ManifestArguments.h"

#include "platform/CodePage.h"

const char* const ManifestUsage =
    "usage: launcher-manifest RELEASE_DIR OUT_DIR [--name update.json|updateL.json] [--zip] [--full-package]\n"
    "  Writes into OUT_DIR a copy of every file of RELEASE_DIR and the manifest NAME\n"
    "  (default update.json) listing them with their MD5 and size.\n"
    "  --zip           also writes FILE.zip beside each file; the manifest then names the archives\n"
    "  --full-package  also writes complete/release.json and the full package it names\n"
    "  In updateL.json, the .exe files at the top of RELEASE_DIR are the launcher's own (isLauncher 1).\n";

bool ParseManifestArguments(const std::vector<std::string>& args, TManifestArguments& parsed, std::string& error) {
  std::vector<std::string> folders;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--zip") {
      parsed.zip = true;
    } else if (arg == "--full-package") {
      parsed.fullPackage = true;
    } else if (arg == "--name") {
      if (++i == args.size()) return error = "--name needs a value", false;
      parsed.name = args[i];
      if (parsed.name != "update.json" && parsed.name != "updateL.json")
        return error = "--name is update.json or updateL.json, not " + parsed.name, false;
    } else if (arg.rfind("--", 0) == 0) {
      return error = "unknown option " + arg, false;
    } else {
      folders.push_back(Utf8ToCp936(arg));
    }
  }
  if (folders.size() != 2) return error = "RELEASE_DIR and OUT_DIR are needed", false;
  parsed.releaseDir = folders[0];
  parsed.outDir = folders[1];
  return true;
}
