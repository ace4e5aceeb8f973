#include "package/PackageWriter.h"

#include "common/Md5.h"
#include "package/PackageFormat.h"

std::string PadConfigText(const std::string& text) {
  std::string block = text;
  if (block.size() < static_cast<size_t>(ConfigBlockSize)) block.resize(ConfigBlockSize, ' ');
  return block;
}

std::string JoinConfigFields(const std::vector<std::string>& fields) {
  std::string text;
  for (const std::string& field : fields) {
    bool quote = field.empty() || field.front() == '"';
    for (unsigned char c : field) quote = quote || (c >= 1 && c <= 32);
    if (!text.empty()) text += ' ';
    if (!quote) {
      text += field;
      continue;
    }
    text += '"';
    for (char c : field) text += c == '"' ? std::string("\"\"") : std::string(1, c);
    text += '"';
  }
  return text;
}

std::string BuildPackage(const TPackageContent& content, int64_t exeSize) {
  const std::string config = PadConfigText(content.configText);
  std::string skin;
  for (const std::string& image : content.images) {
    StoreLE32(skin, static_cast<uint32_t>(image.size()));
    skin += image;
  }
  std::string positions;
  for (int16_t entry : content.positions) {
    positions += static_cast<char>(static_cast<uint16_t>(entry) & 0xFF);
    positions += static_cast<char>(static_cast<uint16_t>(entry) >> 8);
  }

  TPackageTrailer trailer;
  trailer.url = {static_cast<int32_t>(exeSize), static_cast<int32_t>(config.size()), MD5OfMemory(config)};
  trailer.res = {static_cast<int32_t>(exeSize + config.size()), static_cast<int32_t>(skin.size()), MD5OfMemory(skin)};
  trailer.pos = {static_cast<int32_t>(exeSize + config.size() + skin.size()), static_cast<int32_t>(positions.size()),
                 MD5OfMemory(positions)};
  std::string package = config + skin + positions + EncodeTrailer(trailer);
  StoreLE32(package, PackageMagic);
  return package;
}
