#include <windows.h>

#include "platform/FolderFiles.h"
#include "platform/win32/WidePath.h"

namespace {

// The search handle of one folder, closed when the walk leaves it.
class TFindHandle {
public:
  explicit TFindHandle(HANDLE handle) : FHandle(handle) {}
  ~TFindHandle() {
    if (FHandle != INVALID_HANDLE_VALUE) FindClose(FHandle);
  }
  TFindHandle(const TFindHandle&) = delete;
  TFindHandle& operator=(const TFindHandle&) = delete;
  HANDLE Get() const { return FHandle; }

private:
  HANDLE FHandle;
};

std::string NarrowText(const wchar_t* text) {
  const int size = WideCharToMultiByte(936, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string narrow(static_cast<size_t>(size - 1), '\0');
  WideCharToMultiByte(936, 0, text, -1, &narrow[0], size, nullptr, nullptr);
  return narrow;
}

void Walk(const std::string& folder, const std::string& relative, std::vector<std::string>& files) {
  WIN32_FIND_DATAW data;
  TFindHandle find(FindFirstFileW(WidePath(folder + relative + "*").c_str(), &data));
  if (find.Get() == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring wide = data.cFileName;
    if (wide == L"." || wide == L"..") continue;
    const std::string child = relative + NarrowText(data.cFileName);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) Walk(folder, child + "\\", files);
    } else {
      files.push_back(child);
    }
  } while (FindNextFileW(find.Get(), &data));
}

}  // namespace

std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  Walk(folder, std::string(), files);
  return files;
}

// Without MOVEFILE_REPLACE_EXISTING, which a folder does not take.
bool RenameFolderAt(const std::string& from, const std::string& to) {
  return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), 0) != 0;
}

bool MakeWritable(const std::string& path) {
  const std::wstring wide = WidePath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  return SetFileAttributesW(wide.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0;
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}
