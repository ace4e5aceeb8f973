#include "package/PackageReader.h"

#include "common/DelimitedText.h"
#include "common/Format.h"
#include "common/Log.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "package/PackageFormat.h"
#include "platform/File.h"

TPackageLocations PackageLocations;

namespace {

// The log words of the three blocks.
struct TBlockWords {
  const char* error;      // "Url", "Res", "Pos"
  const char* setSize;    // "valid file URL begin set size=%d"
  const char* seek;
  const char* copy;
  const char* md5Begin;
  const char* md5End;
};

const TBlockWords UrlWords = {"Url", "valid file URL begin set size=%d", "valid file URL begin seek",
                              "valid file URL begin copymem", "valid file URL begin MD5", "valid file URL end MD5"};
const TBlockWords ResWords = {"Res", "valid file res begin set size=%d", "valid file Res begin seek",
                              "valid file Res begin copymem", "valid file Res begin md5", "valid file Res end md5"};
const TBlockWords PosWords = {"Pos", "valid file pic begin set size=%d", "valid file pic begin set seek",
                              "valid file pic begin copymem", "valid file pic begin md5", "valid file pic end md5"};

// A descriptor is used only when its range is positive and lies inside the
// file; anything else is rejected before a byte is copied.
bool DescriptorUsable(const TBlockDescriptor& d, int64_t fileSize, const TBlockWords& words) {
  const bool inside = d.offset > 0 && d.size > 0 && static_cast<int64_t>(d.offset) + d.size <= fileSize;
  if (!inside) LogError(Format("%s Error offset=%d, Size=%d", words.error, d.offset, d.size));
  return inside;
}

// Copies the block and compares its digest with the stored one (case-sensitive).
// Returns the block's bytes when they match.
std::optional<std::string> VerifiedBlock(TFileStream& file, const TBlockDescriptor& d, const TBlockWords& words,
                                         const char* successFormat) {
  LogError(Format(words.setSize, d.size));
  std::string buffer(static_cast<size_t>(d.size), '\0');
  LogError(words.seek);
  file.Seek(d.offset);
  LogError(words.copy);
  file.ReadBuffer(buffer.data(), buffer.size());
  LogError(words.md5Begin);
  const std::string realHash = MD5OfMemory(buffer);
  LogError(words.md5End);
  if (realHash != d.md5) {
    LogError(Format("%s Error hash=%s, RealHash=%s", words.error, d.md5.c_str(), realHash.c_str()));
    return std::nullopt;
  }
  if (successFormat) LogError(Format(successFormat, d.md5.c_str(), realHash.c_str()));
  return buffer;
}

void ReadConfigBlock(const std::string& block, int32_t blockSize, const std::string& baseName,
                     TLauncherConfig& config) {
  LogError("valid file URL create urllist");
  const std::string text = block.substr(0, block.find('\0'));
  const std::vector<std::string> fields = SplitDelimited(text, ' ');
  LogError(Format("Url succ str=%s, size=%d, count=%d", text.c_str(), blockSize, static_cast<int>(fields.size())));
  if (fields.size() < ConfigFieldsRequired) {
    LogError(Format("Url Error str=%s, count=%d", text.c_str(), static_cast<int>(fields.size())));
    return;
  }
  AssignConfigFields(config, fields);
  ApplyChannel(config, baseName);
  LogError(Format("Url _HomePageUrl=%s", config._HomePageUrl.c_str()));
  LogError(Format("Url _PayPageUrl=%s", config._PayPageUrl.c_str()));
}

void LogTrailer(const TPackageTrailer& t) {
  LogError(Format("urloffset = %d", t.url.offset));
  LogError(Format("urlsize = %d", t.url.size));
  LogError(Format("urlmd5 = %s", t.url.md5.c_str()));
  LogError(Format("resoffset = %d", t.res.offset));
  LogError(Format("ressize = %d", t.res.size));
  LogError(Format("resmd5 = %s", t.res.md5.c_str()));
  LogError(Format("posoffset = %d", t.pos.offset));
  LogError(Format("possize = %d", t.pos.size));
  LogError(Format("posmd5 = %s", t.pos.md5.c_str()));
}

}  // namespace

void ReadPackage(const std::string& exePath, const std::string& launcherBaseName, TLauncherConfig& config,
                 TPackageLocations& locations) {
  locations.resoffset = 0;
  locations.ressize = 0;
  config.DownloadHost.clear();
  LogError("initconfig create MEM");
  LogError("initconfig create filestream");
  TFileStream file(exePath, TFileMode::ReadShared);
  const int64_t fileSize = file.Size();

  LogError("initconfig create seek begin");
  uint8_t magicBytes[4] = {0, 0, 0, 0};
  file.Seek(fileSize - 4);
  LogError("initconfig create seek end");
  // A file shorter than the magic reads as no package.
  if (fileSize >= 4) file.ReadBuffer(magicBytes, 4);
  LogError("initconfig create ReadBuffer end");
  const uint32_t magic = LoadLE32(magicBytes);
  LogError(Format("flag is %d", static_cast<int32_t>(magic)));
  if (magic != PackageMagic) return;

  LogError("valid file reading begin seek");
  if (fileSize < TrailerAndMagicSize) {
    LogError(Format("valid file reading error size=%d", static_cast<int>(fileSize)));
    return;
  }
  file.Seek(fileSize - TrailerAndMagicSize);
  LogError("valid file reading begin seek end");
  uint8_t trailerBytes[TrailerSize];
  file.ReadBuffer(trailerBytes, TrailerSize);
  LogError("valid file reading read end");
  const TPackageTrailer trailer = DecodeTrailer(trailerBytes);
  LogTrailer(trailer);

  if (DescriptorUsable(trailer.url, fileSize, UrlWords)) {
    if (auto block = VerifiedBlock(file, trailer.url, UrlWords, nullptr))
      ReadConfigBlock(*block, trailer.url.size, launcherBaseName, config);
  }
  if (DescriptorUsable(trailer.res, fileSize, ResWords) &&
      VerifiedBlock(file, trailer.res, ResWords, "Res succ hash=%s, RealHash=%s")) {
    locations.resoffset = trailer.res.offset;
    locations.ressize = trailer.res.size;
  }
  if (DescriptorUsable(trailer.pos, fileSize, PosWords) &&
      VerifiedBlock(file, trailer.pos, PosWords, "Pos succ hash=%s, RealHash=%s")) {
    locations.posoffset = trailer.pos.offset;
    locations.possize = trailer.pos.size;
  }
}

void initconfig() {
  const std::string exePath = GetModuleFilePath();
  ReadPackage(exePath, ExtractBaseName(exePath), LauncherConfig, PackageLocations);
}
