// The command line of launcher-manifest:
//   launcher-manifest RELEASE_DIR OUT_DIR [--name update.json|updateL.json] [--zip] [--full-package]
//                     [--chunk-index MIB]
//                     [--sign PRIVATE_KEY_FILE [--release-version N] [--expires DAYS]]
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr int64_t DefaultChunkIndexFrom = 4ll << 20;
constexpr uint64_t MaxChunkIndexMiB = 1u << 20;

struct TManifestArguments {
  std::string releaseDir;  // code page 936, like every path inside
  std::string outDir;
  std::string name = "update.json";
  bool zip = false;
  bool fullPackage = false;
  std::string signKey;                    // empty: no signatures
  std::optional<uint64_t> releaseVersion; // default: the Unix time of signing
  int expiresDays = 30;
  // Files of at least this many bytes get a chunk index; 0: none.
  int64_t chunkIndexFrom = DefaultChunkIndexFrom;
};

constexpr int MaxExpiresDays = 36500;

extern const char* const ManifestUsage;

// False with an error text when the arguments do not fit the usage.
bool ParseManifestArguments(const std::vector<std::string>& args, TManifestArguments& parsed, std::string& error);
