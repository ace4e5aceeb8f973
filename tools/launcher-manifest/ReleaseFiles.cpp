#include "tools/launcher-manifest/ReleaseFiles.h"

#include <algorithm>
#include <filesystem>

#include "platform/CodePage.h"

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
