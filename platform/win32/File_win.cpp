#include <windows.h>

#include <vector>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/LongPath.h"
#include "platform/win32/WidePath.h"

struct TFileStream::THandle {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

TFileStream::TFileStream(const std::string& path, TFileMode mode) : FHandle(new THandle) {
  DWORD access = GENERIC_READ, share = FILE_SHARE_READ | FILE_SHARE_WRITE, disposition = OPEN_EXISTING;
  if (mode != TFileMode::ReadShared) {
    access |= GENERIC_WRITE;
    share = mode == TFileMode::OpenAlways ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  }
  if (mode == TFileMode::CreateTruncate) disposition = CREATE_ALWAYS;
  if (mode == TFileMode::OpenAlways) disposition = OPEN_ALWAYS;
  FHandle->handle = CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FHandle->handle == INVALID_HANDLE_VALUE)
    throw EFileError("Cannot open file \"" + path + "\". " + WinErrorText(GetLastError()));
}

TFileStream::~TFileStream() {
  if (FHandle->handle != INVALID_HANDLE_VALUE) CloseHandle(FHandle->handle);
}

int64_t TFileStream::Size() const {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(FHandle->handle, &size)) throw EFileError("Cannot examine file. " + WinErrorText(GetLastError()));
  return size.QuadPart;
}

static OVERLAPPED At(int64_t position) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(position & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
  return at;
}

size_t TFileStream::Read(void* buffer, size_t count) {
  if (FPosition < 0) return 0;
  size_t done = 0;
  while (done < count) {
    OVERLAPPED at = At(FPosition);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(count - done > 0x40000000 ? 0x40000000 : count - done);
    if (!ReadFile(FHandle->handle, static_cast<char*>(buffer) + done, want, &n, &at) || n == 0) break;
    done += n;
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
    OVERLAPPED at = At(FPosition);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(count - done > 0x40000000 ? 0x40000000 : count - done);
    if (!WriteFile(FHandle->handle, static_cast<const char*>(buffer) + done, want, &n, &at))
      throw EFileError("Stream write error. " + WinErrorText(GetLastError()));
    if (n == 0) throw EFileError("Stream write error");
    done += n;
    FPosition += n;
  }
}

void TFileStream::Truncate(int64_t size) {
  LARGE_INTEGER to;
  to.QuadPart = size;
  if (!SetFilePointerEx(FHandle->handle, to, nullptr, FILE_BEGIN) || !SetEndOfFile(FHandle->handle))
    throw EFileError("Stream write error. " + WinErrorText(GetLastError()));
}

void TFileStream::Flush() { FlushFileBuffers(FHandle->handle); }

static DWORD Attributes(const std::string& path) { return GetFileAttributesW(WidePath(path).c_str()); }

bool FileExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t GetFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// Attributes are cleared first: a read-only file is deleted all the same.
bool DeleteFileAt(const std::string& path) {
  const std::wstring wide = WidePath(path);
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(wide.c_str()) != 0;
}

bool RenameFileAt(const std::string& from, const std::string& to) {
  return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool CopyFileAt(const std::string& from, const std::string& to) {
  return CopyFileW(WidePath(from).c_str(), WidePath(to).c_str(), FALSE) != 0;
}

namespace {

// Folders are made in the converted text: a trail byte may be 0x5C, and a
// long path is in its extended-length form from the start.
bool ForceWideDirectories(const std::wstring& wide, size_t rootLength) {
  const DWORD a = GetFileAttributesW(wide.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return true;
  const size_t slash = wide.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash >= rootLength && slash > 0 &&
      !ForceWideDirectories(wide.substr(0, slash), rootLength))
    return false;
  return CreateDirectoryW(wide.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

// Trailing separators go in the converted text, where a trail byte 0x5C is
// part of its character.
bool ForceDirectories(const std::string& path) {
  std::wstring wide = WidePath(path);
  while (!wide.empty() && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
  if (wide.empty()) return true;
  const std::u16string text(wide.begin(), wide.end());
  return ForceWideDirectories(wide, WindowsRootLength(text));
}

bool RemoveEmptyDirectory(const std::string& path) { return RemoveDirectoryW(WidePath(path).c_str()) != 0; }

int64_t FreeDiskBytes(const std::string& folder) {
  std::wstring wide = WidePath(folder);
  if (!wide.empty() && wide.back() != L'\\' && wide.back() != L'/') wide += L'\\';
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}

std::string GetModuleFilePath() {
  // The buffer grows until the whole path fits (a long install folder).
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n < buffer.size() || buffer.size() >= 32768) return Utf16ToCp936(std::u16string(buffer.data(), buffer.data() + n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string LastFileErrorText() { return WinErrorText(GetLastError()); }
