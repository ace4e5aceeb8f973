#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/posix/NativePath.h"

struct TFileStream::THandle {
  int fd = -1;
};

TFileStream::TFileStream(const std::string& path, TFileMode mode) : FHandle(new THandle) {
  int flags = O_RDONLY;
  if (mode == TFileMode::ReadWrite) flags = O_RDWR;
  if (mode == TFileMode::CreateTruncate) flags = O_RDWR | O_CREAT | O_TRUNC;
  if (mode == TFileMode::OpenAlways) flags = O_RDWR | O_CREAT;
  FHandle->fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC, 0644);
  if (FHandle->fd < 0) throw EFileError("Cannot open file \"" + path + "\". " + ErrnoText(errno));
}

TFileStream::~TFileStream() {
  if (FHandle->fd >= 0) ::close(FHandle->fd);
}

int64_t TFileStream::Size() const {
  struct stat info;
  if (fstat(FHandle->fd, &info) != 0) throw EFileError("Cannot examine file. " + ErrnoText(errno));
  return info.st_size;
}

size_t TFileStream::Read(void* buffer, size_t count) {
  if (FPosition < 0) return 0;
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(FHandle->fd, static_cast<char*>(buffer) + done, count - done, FPosition);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
    FPosition += n;
  }
  return done;
}

void TFileStream::ReadBuffer(void* buffer, size_t count) {
  if (Read(buffer, count) != count) throw EFileError("Stream read error");
}

void TFileStream::WriteBuffer(const void* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(FHandle->fd, static_cast<const char*>(buffer) + done, count - done, FPosition);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EFileError("Stream write error. " + ErrnoText(errno));
    if (n == 0) throw EFileError("Stream write error");
    done += static_cast<size_t>(n);
    FPosition += n;
  }
}

void TFileStream::Truncate(int64_t size) {
  if (ftruncate(FHandle->fd, size) != 0) throw EFileError("Stream write error. " + ErrnoText(errno));
}

void TFileStream::Flush() { fsync(FHandle->fd); }

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(NativePath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat info;
  return stat(NativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int64_t GetFileSize(const std::string& path) {
  struct stat info;
  if (stat(NativePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return info.st_size;
}

bool DeleteFileAt(const std::string& path) { return ::unlink(NativePath(path).c_str()) == 0; }

bool RenameFileAt(const std::string& from, const std::string& to) {
  return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool CopyFileAt(const std::string& from, const std::string& to) {
  try {
    TFileStream source(from, TFileMode::ReadShared);
    TFileStream target(to, TFileMode::CreateTruncate);
    char buffer[65536];
    for (size_t n; (n = source.Read(buffer, sizeof buffer)) > 0;) target.WriteBuffer(buffer, n);
    return true;
  } catch (const EFileError&) {
    return false;
  }
}

bool ForceDirectories(const std::string& path) {
  const std::string native = NativePath(path);
  // Each parent in turn; a relative path's first one is its first whole
  // component, never a part of it.
  for (size_t slash = native.find('/', 1); slash != std::string::npos; slash = native.find('/', slash + 1)) {
    const std::string prefix = native.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return mkdir(native.c_str(), 0755) == 0 || errno == EEXIST;
}

bool RemoveEmptyDirectory(const std::string& path) { return rmdir(NativePath(path).c_str()) == 0; }

std::string GetModuleFilePath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return Utf8ToCp936(std::string(buffer, static_cast<size_t>(n)));
}

std::string LastFileErrorText() { return ErrnoText(errno); }

int64_t FreeDiskBytes(const std::string& folder) {
  struct statvfs info;
  if (statvfs(NativePath(folder).c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}
