// A folder's files as a whole, and a file's write protection.
#pragma once
#include <string>
#include <vector>

// Every file below `folder` (which ends with a separator), sub-folders
// included, as paths relative to it with "\" separators, in no set order.
// Links to folders are not followed.
std::vector<std::string> FilesBelow(const std::string& folder);
// Renames a folder (with all it holds) to a name not in use.
bool RenameFolderAt(const std::string& from, const std::string& to);
// Lets the file be replaced and written again: clears the read-only
// attribute (Windows) or gives its owner write permission. True when the
// file is writable now.
bool MakeWritable(const std::string& path);
// Whether the file is write-protected (read-only attribute, or no write
// permission for its owner).
bool IsReadOnly(const std::string& path);
