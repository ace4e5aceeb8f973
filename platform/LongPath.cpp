#include "platform/LongPath.h"

#include <vector>

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDriveRoot(const std::u16string& p) { return p.size() >= 3 && IsLetter(p[0]) && p[1] == u':' && IsSeparator(p[2]); }
bool IsPrefixed(const std::u16string& p) {
  return p.size() >= 4 && IsSeparator(p[0]) && IsSeparator(p[1]) && (p[2] == u'?' || p[2] == u'.') && IsSeparator(p[3]);
}
bool IsUnc(const std::u16string& p) { return p.size() >= 3 && IsSeparator(p[0]) && IsSeparator(p[1]) && !IsSeparator(p[2]); }

// The components after `root`, as Win32 reads them: empty ones and "." left
// out, ".." takes the one before it (never the root's), trailing dots and
// blanks dropped.
std::u16string Components(const std::u16string& path, size_t from, size_t keep) {
  std::vector<std::u16string> parts;
  size_t start = from;
  for (size_t i = from; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    std::u16string part = path.substr(start, i - start);
    start = i + 1;
    if (part == u"..") {
      if (parts.size() > keep) parts.pop_back();
      continue;
    }
    while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
    if (!part.empty()) parts.push_back(part);
  }
  std::u16string joined;
  for (size_t k = 0; k < parts.size(); ++k) joined += (k ? u"\\" : u"") + parts[k];
  return joined;
}

}  // namespace

bool IsFullWindowsPath(const std::u16string& path) { return IsDriveRoot(path) || IsPrefixed(path) || IsUnc(path); }

std::u16string ExtendedLengthPath(const std::u16string& path) {
  if (IsPrefixed(path)) {
    std::u16string same = path;
    for (char16_t& c : same)
      if (c == u'/') c = u'\\';
    return same;
  }
  if (IsDriveRoot(path)) return u"\\\\?\\" + path.substr(0, 2) + u"\\" + Components(path, 3, 0);
  // "\\server\share": the server and the share stay, ".." never goes above them.
  if (IsUnc(path)) return u"\\\\?\\UNC\\" + Components(path, 2, 2);
  return path;
}

size_t WindowsRootLength(const std::u16string& path) {
  // The end of the component that starts at `from`, with its separator.
  const auto after = [&path](size_t from) {
    size_t i = from;
    while (i < path.size() && !IsSeparator(path[i])) ++i;
    return i < path.size() ? i + 1 : i;
  };
  if (IsPrefixed(path)) {
    const std::u16string rest = path.substr(4);
    if (IsDriveRoot(rest)) return 7;
    if (rest.size() >= 4 && (rest.compare(0, 3, u"UNC") == 0 || rest.compare(0, 3, u"unc") == 0) && IsSeparator(rest[3]))
      return after(after(8));
    return after(4);
  }
  if (IsDriveRoot(path)) return 3;
  if (IsUnc(path)) return after(after(2));
  return 0;
}
