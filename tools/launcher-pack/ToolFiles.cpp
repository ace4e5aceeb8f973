#include "tools/launcher-pack/ToolFiles.h"

#include "platform/CodePage.h"
#include "platform/File.h"

std::string ShownPath(const std::string& path) { return Cp936ToUtf8(path); }

bool ReadFileLimited(const std::string& path, int64_t limit, std::string& bytes, std::string& error) {
  if (!FileExists(path)) {
    error = ShownPath(path) + ": no such file";
    return false;
  }
  try {
    TFileStream file(path, TFileMode::ReadShared);
    const int64_t size = file.Size();
    if (size > limit) {
      error = ShownPath(path) + ": larger than " + std::to_string(limit) + " bytes";
      return false;
    }
    bytes.assign(static_cast<size_t>(size), '\0');
    file.ReadBuffer(bytes.data(), bytes.size());
    return true;
  } catch (const EFileError& e) {
    error = ShownPath(path) + ": " + Cp936ToUtf8(e.what());
    return false;
  }
}

bool WriteFileReplacing(const std::string& path, const std::string& first, const std::string& second,
                        std::string& error) {
  const std::string temporary = path + ".partial";
  try {
    TFileStream file(temporary, TFileMode::CreateTruncate);
    file.WriteBuffer(first.data(), first.size());
    file.WriteBuffer(second.data(), second.size());
    file.Flush();
  } catch (const EFileError& e) {
    DeleteFileAt(temporary);
    error = ShownPath(path) + ": " + Cp936ToUtf8(e.what());
    return false;
  }
  if (!RenameFileAt(temporary, path)) {
    error = ShownPath(path) + ": cannot write (" + Cp936ToUtf8(LastFileErrorText()) + ")";
    DeleteFileAt(temporary);
    return false;
  }
  return true;
}
