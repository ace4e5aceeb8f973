// The files of a release folder, as the manifest lists them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TReleaseFile {
  std::string name;  // relative, "\" between folders, code page 936
  int64_t size = 0;
};

// Every regular file below `folder`, sorted by name, leaving out everything
// below `excluded` (the output folder when it lies inside the release).
// False with an error text when the folder cannot be read.
bool ListReleaseFiles(const std::string& folder, const std::string& excluded, std::vector<TReleaseFile>& files,
                      std::string& error);

// The files that would not install as published, one message each (UTF-8):
// a name with a reserved component or a colon (see IsSafeRelativePath), and
// every file whose path equals an earlier one's as Windows compares paths
// (WindowsPathKey). Empty when every file can be published.
std::vector<std::string> UnpublishableFiles(const std::vector<TReleaseFile>& files);
