// `launcher-pack pack`: appends the package (configuration, skin, positions,
// trailer, magic) to a copy of a launcher executable.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/launcher-pack/PngSize.h"

// Paths are code page 936.
struct TPackOptions {
  std::string exePath;
  std::string configPath;
  std::string skinFolder;
  std::string positionsPath;
  std::string outPath;
  bool configIsCp936 = false;  // take the configuration bytes as they are
  bool replace = false;        // replace a package the executable already carries
  // --public-key: the key text for the 14th configuration field; it may also
  // stand in the configuration file itself.
  std::string publicKey;
  bool publicKeyGiven = false;
};

constexpr int64_t MaxConfigFileSize = 64 * 1024;
constexpr int64_t MaxImageFileSize = 64 * 1024 * 1024;
// Offsets in the trailer are signed 32-bit.
constexpr int64_t MaxPackedFileSize = INT32_MAX;

// The configuration fields of a configuration file: fields separated by
// blanks or line breaks, double quotes around a field that holds a blank.
// A UTF-8 text (with or without a byte order mark) is converted to code page
// 936 unless `isCp936`. 12 to 14 fields are required; a 14th must be empty
// or a public key text; a base address field of several addresses must
// not lose one (BaseAddressProblem).
bool ParseConfigFile(const std::string& bytes, bool isCp936, std::vector<std::string>& fields, std::string& error);

// Puts the key of --public-key into the 14th field (with an empty 13th when
// the file has only 12, so that a launcher reading 13 fields does not take
// the key for _ForgetUrl). A key in both places must be the same text.
bool ApplyPublicKey(const TPackOptions& options, std::vector<std::string>& fields, std::string& error);

// Reads `<folder>/<name>.png` for every name of SkinImageNames(), in block
// order, and the background's size.
bool LoadSkinImages(const std::string& folder, std::vector<std::string>& images, TPngSize& background,
                    std::string& error);

// The length of the executable image in `exe`: all of it when it carries no
// package; where its package starts when it does and `replace` is set.
bool ExecutableImageSize(const std::string& exe, bool replace, int64_t& imageSize, std::string& error);

// Runs the whole command; prints a summary line to `out`.
bool RunPack(const TPackOptions& options, std::ostream& out, std::string& error);
