// Writes ZIP archives: deflated entries (stored when deflate does not make
// them smaller, and for empty files), UTF-8 names, ZIP64 records whenever a
// size, an offset or the entry count needs them. Used by the operator tools.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/File.h"

class TZipWriter {
public:
  // Creates or truncates the archive; throws EFileError.
  explicit TZipWriter(const std::string& path, int level = 6);
  TZipWriter(const TZipWriter&) = delete;
  TZipWriter& operator=(const TZipWriter&) = delete;

  // Adds the file at `source` under `name` (code page 936, "/" between
  // folders), with the file's time. Throws EFileError.
  void AddFile(const std::string& source, const std::string& name);
  // Adds bytes from memory under `name` with the given DOS date and time.
  void AddBytes(const std::string& name, const std::string& bytes, uint32_t dosDateTime);
  // Reads the entry's next bytes into `buffer`, 0 at the end.
  using TRead = std::function<size_t(uint8_t* buffer, size_t count)>;
  // Adds `size` bytes from `read`; `rewind` starts them over (used when
  // deflate does not help and the bytes go in stored).
  void AddStream(const std::string& name, uint64_t size, uint32_t dosDateTime, const TRead& read,
                 const std::function<void()>& rewind);
  // Writes the central directory and the end records; the archive is
  // complete only after this. Returns the archive's size.
  int64_t Finish();

private:
  struct TCentralEntry {
    std::string name;  // UTF-8
    uint16_t flags;
    uint16_t method;
    uint32_t dosDateTime;
    uint32_t crc;
    uint64_t compressedSize;
    uint64_t uncompressedSize;
    uint64_t offset;
  };
  uint64_t Deflate(const TRead& read, uint32_t& crc);
  uint64_t Store(const TRead& read, uint32_t& crc);

  TFileStream FFile;
  int FLevel;
  std::vector<TCentralEntry> FEntries;
};
