#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "platform/CodePage.h"
#include "platform/FolderFiles.h"
#include "platform/posix/NativePath.h"

namespace {

void Walk(const std::string& native, const std::string& relative, std::vector<std::string>& files) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(native.c_str()), closedir);
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = native + "/" + name;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    const std::string child = relative + Utf8ToCp936(name);
    if (S_ISDIR(info.st_mode)) Walk(path, child + "\\", files);
    else if (S_ISREG(info.st_mode)) files.push_back(child);
  }
}

}  // namespace

std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  std::string native = NativePath(folder);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  Walk(native, std::string(), files);
  return files;
}

bool RenameFolderAt(const std::string& from, const std::string& to) {
  return rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool MakeWritable(const std::string& path) {
  const std::string native = NativePath(path);
  struct stat info;
  if (stat(native.c_str(), &info) != 0) return false;
  if (info.st_mode & S_IWUSR) return true;
  return chmod(native.c_str(), (info.st_mode & 07777) | S_IWUSR) == 0;
}

bool IsReadOnly(const std::string& path) {
  struct stat info;
  return stat(NativePath(path).c_str(), &info) == 0 && !(info.st_mode & S_IWUSR);
}
