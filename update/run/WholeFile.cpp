#include "update/run/WholeFile.h"

#include "platform/File.h"

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  TFileStream file(path, TFileMode::CreateTruncate);
  file.WriteBuffer(bytes.data(), bytes.size());
}

void ReplaceFileBytes(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".tmp";
  try {
    WriteFileBytes(temporary, bytes);
  } catch (const EFileError&) {
    DeleteFileAt(temporary);
    throw;
  }
  if (!RenameFileAt(temporary, path)) {
    DeleteFileAt(temporary);
    throw EFileError("Cannot replace \"" + path + "\". " + LastFileErrorText());
  }
}
