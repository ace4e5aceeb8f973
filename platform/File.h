// Files as the launcher sees them: 8-bit code page 936 paths, Windows-style
// separators accepted on every platform, Winsock-free error reporting.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// A failing file operation that the caller did not expect to fail (the
// library-level error of the launcher's file streams).
class EFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class TFileMode {
  ReadShared,     // read; others may read and write
  ReadWrite,      // read and write an existing file
  CreateTruncate, // create or truncate, read and write
  OpenAlways      // read and write; created when missing, never truncated
};

// A file handle owned by one object; closed on destruction.
class TFileStream {
public:
  // Throws EFileError("Cannot open file \"...\". <reason>") when the file cannot be opened.
  TFileStream(const std::string& path, TFileMode mode);
  ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Size() const;
  int64_t Position() const { return FPosition; }
  void Seek(int64_t position) { FPosition = position; }
  // Reads up to `count` bytes at the position; returns the count read (0 at the end).
  size_t Read(void* buffer, size_t count);
  // Reads exactly `count` bytes or throws EFileError("Stream read error").
  void ReadBuffer(void* buffer, size_t count);
  // Writes all bytes at the position or throws EFileError("Stream write error").
  void WriteBuffer(const void* buffer, size_t count);
  void Truncate(int64_t size);
  void Flush();

private:
  struct THandle;
  std::unique_ptr<THandle> FHandle;
  int64_t FPosition = 0;
};

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Size in bytes, or -1 when the file cannot be examined.
int64_t GetFileSize(const std::string& path);
bool DeleteFileAt(const std::string& path);
// Replaces `to` when it exists.
bool RenameFileAt(const std::string& from, const std::string& to);
bool CopyFileAt(const std::string& from, const std::string& to);
// Creates the folder and its missing parents.
bool ForceDirectories(const std::string& path);
// Removes the folder when it is empty; false otherwise.
bool RemoveEmptyDirectory(const std::string& path);

// Bytes the caller may still write on the volume of `folder` (an existing
// folder), or -1 when that cannot be found out.
int64_t FreeDiskBytes(const std::string& folder);

// Full path of the running program file.
std::string GetModuleFilePath();

// Last system error of a file operation as text, for error messages.
std::string LastFileErrorText();
