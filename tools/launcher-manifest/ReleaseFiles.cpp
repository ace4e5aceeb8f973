#include "tools/launcher-manifest/ReleaseFiles.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "common/PathUtils.h"
#include "platform/CodePage.h"
#include "update/manifest/Manifest.h"

namespace fs = std::filesystem;

namespace {

fs::path NativeFolder(const std::string& folder) { return fs::path(Cp936ToUtf16(folder)); }

bool IsBelow(const fs::path& path, const fs::path& folder) {
  const auto mismatch = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return mismatch.first == folder.end();
}

}  // namespace

bool ListReleaseFiles(const std::string& folder, const std::string& excluded, std::vector<TReleaseFile>& files,
                      std::string& error) {
  std::error_code failure;
  const fs::path root = fs::canonical(NativeFolder(folder), failure);
  if (failure || !fs::is_directory(root)) return error = "cannot read the release folder " + folder, false;
  const fs::path skip = fs::weakly_canonical(NativeFolder(excluded), failure);
  fs::recursive_directory_iterator walk(root, failure), end;
  for (; !failure && walk != end; walk.increment(failure)) {
    if (IsBelow(walk->path(), skip)) {
      if (walk->is_directory()) walk.disable_recursion_pending();
      continue;
    }
    if (!walk->is_regular_file()) continue;
    std::u16string relative = fs::relative(walk->path(), root).generic_u16string();
    std::replace(relative.begin(), relative.end(), u'/', u'\\');
    files.push_back({Utf16ToCp936(relative), static_cast<int64_t>(walk->file_size())});
  }
  if (failure) return error = "cannot read the release folder " + folder + ": " + failure.message(), false;
  std::sort(files.begin(), files.end(), [](const TReleaseFile& a, const TReleaseFile& b) { return a.name < b.name; });
  return true;
}

std::vector<std::string> UnpublishableFiles(const std::vector<TReleaseFile>& files) {
  std::vector<std::string> problems;
  std::map<std::string, std::string> firstOf;
  for (const TReleaseFile& file : files) {
    const std::string name = Cp936ToUtf8(file.name);
    if (!IsSafeRelativePath(file.name)) {
      problems.push_back("\"" + name + "\": Windows opens this name as a device or stores it under another name "
                         "(CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 with any extension, a name ending in a dot "
                         "or a blank, a colon); rename it");
      continue;
    }
    const auto first = firstOf.emplace(WindowsPathKey(file.name), name);
    if (!first.second)
      problems.push_back("\"" + first.first->second + "\" and \"" + name +
                         "\" are the same file on Windows (letter case is ignored there); keep one of them");
  }
  return problems;
}
