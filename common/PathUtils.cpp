#include "common/PathUtils.h"

#include "common/DelimitedText.h"
#include "platform/File.h"

size_t LastSeparator(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); i = NextCharIndex(path, i))
    if (path[i] == '\\' || path[i] == '/') last = i;
  return last;
}

std::string ExtractFilePath(const std::string& path) {
  const size_t slash = LastSeparator(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  const size_t slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractBaseName(const std::string& path) {
  const std::string name = ExtractFileName(path);
  size_t dot = std::string::npos;
  for (size_t i = 0; i < name.size(); i = NextCharIndex(name, i))
    if (name[i] == '.') dot = i;
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string LauncherFolder() { return ExtractFilePath(GetModuleFilePath()); }
std::string LauncherBaseName() { return ExtractBaseName(GetModuleFilePath()); }
