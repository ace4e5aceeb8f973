#include "tools/launcher-pack/PackCommand.h"

#include "common/DelimitedText.h"
#include "common/PathUtils.h"
#include "package/LauncherConfig.h"
#include "package/PackageFormat.h"
#include "package/PackageWriter.h"
#include "package/SkinLayout.h"
#include "platform/CodePage.h"
#include "signing/ReleaseSignature.h"
#include "tools/launcher-pack/PositionsFile.h"
#include "tools/launcher-pack/ToolFiles.h"

namespace {

const std::string Utf8ByteOrderMark = "\xEF\xBB\xBF";

// The text in code page 936. A UTF-8 text must convert without loss: a
// character outside code page 936 would silently become "?".
bool ConfigTextInCp936(const std::string& bytes, bool isCp936, std::string& text, std::string& error) {
  if (isCp936) {
    text = bytes;
    return true;
  }
  const std::string utf8 = bytes.compare(0, 3, Utf8ByteOrderMark) == 0 ? bytes.substr(3) : bytes;
  text = Utf8ToCp936(utf8);
  if (Cp936ToUtf8(text) != utf8) {
    error = "the text is not UTF-8 or holds characters outside code page 936 (give --config-cp936 for a file "
            "already in code page 936)";
    return false;
  }
  return true;
}

std::string SkinImagePath(const std::string& folder, const std::string& name) {
  return folder + (folder.empty() || EndsWithSeparator(folder) ? "" : "/") + name + ".png";
}

}  // namespace

bool ParseConfigFile(const std::string& bytes, bool isCp936, std::vector<std::string>& fields, std::string& error) {
  std::string text;
  if (!ConfigTextInCp936(bytes, isCp936, text, error)) return false;
  if (text.find('\0') != std::string::npos) {
    error = "the text holds a NUL byte, which would end it early";
    return false;
  }
  fields = SplitDelimited(text, ' ');
  if (fields.size() < ConfigFieldsRequired || fields.size() > ConfigFieldsMax) {
    error = std::to_string(fields.size()) + " fields; the launcher takes 12 (" + ConfigFieldNames()[0] + " to " +
            ConfigFieldNames()[11] + "), 13 (with " + ConfigFieldNames()[12] + ") or 14 (with " +
            ConfigFieldNames()[PublicKeyField] + "); quote a field that holds a blank";
    return false;
  }
  for (size_t field : {ClientPatchUrlField, LauncherPathUrlField}) {
    const std::string problem = BaseAddressProblem(fields[field]);
    if (!problem.empty()) {
      error = ConfigFieldNames()[field] + " holds several base addresses joined by \"|\", but " + problem;
      return false;
    }
  }
  TPublicKey key;
  if (fields.size() > PublicKeyField && !fields[PublicKeyField].empty() &&
      !ParsePublicKeyText(fields[PublicKeyField], key)) {
    error = "14 fields, but the 14th (" + ConfigFieldNames()[PublicKeyField] +
            ") is not a public key text (\"p256:\" and base64, as launcher-keys prints it)";
    return false;
  }
  return true;
}

bool ApplyPublicKey(const TPackOptions& options, std::vector<std::string>& fields, std::string& error) {
  if (!options.publicKeyGiven) return true;
  TPublicKey key;
  if (!options.publicKey.empty() && !ParsePublicKeyText(options.publicKey, key)) {
    error = "--public-key: not a public key text (\"p256:\" and base64, as launcher-keys prints it)";
    return false;
  }
  if (fields.size() > PublicKeyField && fields[PublicKeyField] != options.publicKey) {
    error = "--public-key differs from the 14th field of the configuration file; give the key in one place";
    return false;
  }
  fields.resize(ConfigFieldsMax);
  fields[PublicKeyField] = options.publicKey;
  return true;
}

bool LoadSkinImages(const std::string& folder, std::vector<std::string>& images, TPngSize& background,
                    std::string& error) {
  images.clear();
  for (const std::string& name : SkinImageNames()) {
    const std::string path = SkinImagePath(folder, name);
    std::string bytes;
    if (!ReadFileLimited(path, MaxImageFileSize, bytes, error)) {
      error = "skin image \"" + name + "\": " + error;
      return false;
    }
    const std::optional<TPngSize> size = ReadPngSize(bytes);
    if (!size) {
      error = "skin image \"" + name + "\": " + ShownPath(path) + " is not a PNG file";
      return false;
    }
    if (images.empty()) background = *size;
    images.push_back(std::move(bytes));
  }
  return true;
}

bool ExecutableImageSize(const std::string& exe, bool replace, int64_t& imageSize, std::string& error) {
  imageSize = static_cast<int64_t>(exe.size());
  const bool hasMagic =
      exe.size() >= 4 && LoadLE32(reinterpret_cast<const uint8_t*>(exe.data() + exe.size() - 4)) == PackageMagic;
  if (!hasMagic) return true;
  if (!replace) {
    error = "the executable already carries a package; give --replace to replace it";
    return false;
  }
  const int64_t trailerStart = static_cast<int64_t>(exe.size()) - TrailerAndMagicSize;
  if (trailerStart < 0) {
    error = "the executable ends with the package magic but is too short for a trailer";
    return false;
  }
  const TPackageTrailer trailer = DecodeTrailer(reinterpret_cast<const uint8_t*>(exe.data() + trailerStart));
  if (trailer.url.offset <= 0 || trailer.url.offset > trailerStart) {
    error = "the present package's configuration offset " + std::to_string(trailer.url.offset) +
            " does not say where it starts; cannot strip it";
    return false;
  }
  imageSize = trailer.url.offset;
  return true;
}

bool RunPack(const TPackOptions& options, std::ostream& out, std::string& error) {
  std::string configBytes;
  std::vector<std::string> fields;
  if (!ReadFileLimited(options.configPath, MaxConfigFileSize, configBytes, error)) return false;
  if (!ParseConfigFile(configBytes, options.configIsCp936, fields, error)) {
    error = ShownPath(options.configPath) + ": " + error;
    return false;
  }
  if (!ApplyPublicKey(options, fields, error)) return false;

  TPackageContent content;
  content.configText = JoinConfigFields(fields);
  TPngSize background;
  if (!LoadSkinImages(options.skinFolder, content.images, background, error)) return false;
  if (!ReadPositionsFile(options.positionsPath, background, content.positions, error)) return false;

  std::string exe;
  int64_t imageSize = 0;
  if (!ReadFileLimited(options.exePath, MaxPackedFileSize, exe, error)) return false;
  if (!ExecutableImageSize(exe, options.replace, imageSize, error)) {
    error = ShownPath(options.exePath) + ": " + error;
    return false;
  }
  exe.resize(static_cast<size_t>(imageSize));

  const std::string package = BuildPackage(content, imageSize);
  if (imageSize + static_cast<int64_t>(package.size()) > MaxPackedFileSize) {
    error = "the packed file would exceed " + std::to_string(MaxPackedFileSize) + " bytes";
    return false;
  }
  if (!WriteFileReplacing(options.outPath, exe, package, error)) return false;
  out << ShownPath(options.outPath) << ": executable " << imageSize << " bytes, package " << package.size()
      << " bytes (configuration " << fields.size() << " fields, " << content.images.size() << " skin images, "
      << content.positions.size() << " position entries)\n";
  return true;
}
