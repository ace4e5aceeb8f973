#include "tools/launcher-manifest/ManifestArguments.h"

#include <limits>

#include "platform/CodePage.h"
#include "signing/TextCodec.h"

const char* const ManifestUsage =
    "usage: launcher-manifest RELEASE_DIR OUT_DIR [--name update.json|updateL.json] [--zip] [--full-package]\n"
    "                         [--chunk-index MIB] [--sign PRIVATE_KEY_FILE [--release-version N] [--expires DAYS]]\n"
    "  Writes into OUT_DIR a copy of every file of RELEASE_DIR and the manifest NAME\n"
    "  (default update.json) listing them with their MD5 and size.\n"
    "  --zip           also writes FILE.zip beside each file; the manifest then names the archives\n"
    "  --full-package  also writes complete/release.json and the full package it names\n"
    "  --chunk-index MIB  files of at least MIB MiB (default 4) also get FILE.chunks, the chunk\n"
    "                  index with which launchers fetch only the changed parts; 0 writes none\n"
    "  --sign KEY      also writes NAME.sig (and complete/release.json.sig) signed with the\n"
    "                  private key file KEY of launcher-keys\n"
    "  --release-version N  the release version in the signatures (default: the current Unix\n"
    "                  time); launchers refuse a version lower than one they accepted before\n"
    "  --expires DAYS  the signatures expire DAYS days from now (default 30)\n"
    "  In updateL.json, the .exe files at the top of RELEASE_DIR are the launcher's own (isLauncher 1).\n";

bool ParseManifestArguments(const std::vector<std::string>& args, TManifestArguments& parsed, std::string& error) {
  std::vector<std::string> folders;
  bool expiresGiven = false;
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
    } else if (arg == "--chunk-index") {
      uint64_t mib = 0;
      if (++i == args.size() || !ParseCanonicalDecimal(args[i], MaxChunkIndexMiB, mib))
        return error = "--chunk-index needs a number of MiB from 0 to " + std::to_string(MaxChunkIndexMiB), false;
      parsed.chunkIndexFrom = static_cast<int64_t>(mib) << 20;
    } else if (arg == "--sign") {
      if (++i == args.size()) return error = "--sign needs a private key file", false;
      parsed.signKey = Utf8ToCp936(args[i]);
    } else if (arg == "--release-version") {
      uint64_t version = 0;
      if (++i == args.size() || !ParseCanonicalDecimal(args[i], std::numeric_limits<uint64_t>::max(), version))
        return error = "--release-version needs a decimal number", false;
      parsed.releaseVersion = version;
    } else if (arg == "--expires") {
      uint64_t days = 0;
      if (++i == args.size() || !ParseCanonicalDecimal(args[i], MaxExpiresDays, days) || days == 0)
        return error = "--expires needs a number of days from 1 to " + std::to_string(MaxExpiresDays), false;
      parsed.expiresDays = static_cast<int>(days);
      expiresGiven = true;
    } else if (arg.rfind("--", 0) == 0) {
      return error = "unknown option " + arg, false;
    } else {
      folders.push_back(Utf8ToCp936(arg));
    }
  }
  if (folders.size() != 2) return error = "RELEASE_DIR and OUT_DIR are needed", false;
  if (parsed.signKey.empty() && (parsed.releaseVersion || expiresGiven))
    return error = "--release-version and --expires go with --sign", false;
  parsed.releaseDir = folders[0];
  parsed.outDir = folders[1];
  return true;
}
