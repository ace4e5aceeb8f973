#include "signing/PrivateKeyFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/CodePage.h"

namespace {

std::string Utf8Path(const std::string& path) {
  std::string native = Cp936ToUtf8(path);
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

}  // namespace

bool CreatePrivateFile(const std::string& path, std::string_view bytes, std::string& error) {
  const std::string native = Utf8Path(path);
  // O_EXCL: never over an existing key (or a link planted in its place);
  // the mode is given at creation, so no moment exists where others may read.
  const int file = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) {
    error = errno == EEXIST ? native + " exists; a key file is never replaced"
                            : "cannot create " + native + ": " + std::strerror(errno);
    return false;
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t step = write(file, bytes.data() + written, bytes.size() - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) break;
    written += static_cast<size_t>(step);
  }
  const bool complete = written == bytes.size() && fsync(file) == 0;
  const int saved = errno;
  if (close(file) != 0 || !complete) {
    error = "cannot write " + native + ": " + std::strerror(complete ? errno : saved);
    unlink(native.c_str());
    return false;
  }
  return true;
}
