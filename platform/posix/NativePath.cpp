#include "platform/posix/NativePath.h"

#include <cstring>

#include "platform/CodePage.h"

std::string NativePath(const std::string& path) {
  std::string native = Cp936ToUtf8(path);
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

std::string ErrnoText(int error) { return std::strerror(error); }
