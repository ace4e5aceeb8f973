#include "common/PathUtils.h"

#include "common/DelimitedText.h"
#include "common/TextCase.h"
#include "platform/File.h"

size_t LastSeparator(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); i = NextCharIndex(path, i))
    if (path[i] == '\\' || path[i] == '/') last = i;
  return last;
}

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && LastSeparator(path) == path.size() - 1;
}

std::string WithSeparator(const std::string& folder) {
  return folder.empty() || EndsWithSeparator(folder) ? folder : folder + "\\";
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

bool IsDeviceName(const std::string& component) {
  std::string name = component.substr(0, component.find('.'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  name = UpperCase(name);
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") return true;
  return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) && name[3] >= '1' &&
         name[3] <= '9';
}

bool IsReservedComponent(const std::string& component) {
  // "." is the folder itself; any other name ending in a dot ("..", "a.")
  // or a blank is not stored as written.
  if (component.empty() || component == ".") return false;
  // A trail byte is never "." or " ", so the last byte is a character of its own.
  return component.back() == '.' || component.back() == ' ' || IsDeviceName(component);
}

namespace {

// Calls `each` with every component of `path` split at "\" and "/" (empty
// ones included), stepping over double-byte characters whose second byte may
// be 0x5C; stops early when it returns true.
template <typename F>
bool AnyComponent(const std::string& path, F each) {
  size_t start = 0;
  for (size_t i = 0;; i = NextCharIndex(path, i)) {
    if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
    if (each(path.substr(start, i - start))) return true;
    if (i >= path.size()) return false;
    start = i + 1;
  }
}

}  // namespace

bool HasReservedComponent(const std::string& path) { return AnyComponent(path, IsReservedComponent); }

std::string UrlSlashes(const std::string& path) {
  std::string url;
  url.reserve(path.size());
  for (size_t i = 0; i < path.size();) {
    size_t next = NextCharIndex(path, i);
    if (path[i] != '\\') {
      url.append(path, i, next - i);
    } else {
      url += '/';
      if (next < path.size() && path[next] == '\\') ++next;
    }
    i = next;
  }
  return url;
}

std::string WindowsPathKey(const std::string& path) {
  std::string key;
  AnyComponent(path, [&key](const std::string& component) {
    if (component.empty() || component == ".") return false;
    if (!key.empty()) key += '\\';
    key += UpperCase(component);
    return false;
  });
  return key;
}
