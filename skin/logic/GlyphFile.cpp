#include "skin/logic/GlyphFile.h"

#include "common/PathUtils.h"
#include "platform/File.h"

std::optional<std::string> FindGlyphFile(const std::string& fileName, const std::string& programFolder) {
  if (fileName.empty()) return std::nullopt;
  if (FileExists(fileName)) return fileName;
  const std::string beside = programFolder + fileName;
  if (FileExists(beside)) return beside;
  return std::nullopt;
}

std::optional<std::string> FindGlyphFile(const std::string& fileName) {
  return FindGlyphFile(fileName, LauncherFolder());
}
