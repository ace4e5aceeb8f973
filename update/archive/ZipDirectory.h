// The central directory of a ZIP archive: where each entry is, how it is
// stored, its sizes and CRC-32. ZIP64 records are read when present.
// Reading is bounded: the directory's size and entry count have caps, and no
// offset leads outside the archive.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"

// Random access to the archive's bytes.
class TZipSource {
public:
  virtual ~TZipSource() = default;
  virtual int64_t Size() const = 0;
  // False unless all `count` bytes at `offset` were read.
  virtual bool ReadAt(int64_t offset, void* buffer, size_t count) = 0;
};

// An archive file; each object has its own position, so each thread reading
// the archive opens its own.
class TZipFileSource : public TZipSource {
public:
  // Throws EFileError when the file cannot be opened.
  explicit TZipFileSource(const std::string& path);
  int64_t Size() const override { return FSize; }
  bool ReadAt(int64_t offset, void* buffer, size_t count) override;

private:
  TFileStream FFile;
  int64_t FSize;
};

// An archive in memory (the fuzz target and small tests).
class TZipMemorySource : public TZipSource {
public:
  TZipMemorySource(const void* data, size_t size) : FData(static_cast<const uint8_t*>(data)), FSize(size) {}
  int64_t Size() const override { return static_cast<int64_t>(FSize); }
  bool ReadAt(int64_t offset, void* buffer, size_t count) override;

private:
  const uint8_t* FData;
  size_t FSize;
};

struct TZipEntry {
  std::string Name;  // code page 936; separators as stored
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t Crc32 = 0;
  uint32_t DosDateTime = 0;  // date in the high word
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t LocalHeaderOffset = 0;  // already corrected for bytes before the archive
  bool IsDirectory() const { return !Name.empty() && (Name.back() == '/' || Name.back() == '\\'); }
};

struct TZipLimits {
  uint64_t MaxEntries = 1u << 20;
  uint64_t MaxDirectoryBytes = 256u << 20;
};

struct TZipDirectory {
  std::vector<TZipEntry> Entries;
  int64_t DirectoryOffset = 0;  // where the central directory starts in the file
};

// False with an error text when the archive has no readable directory.
bool ReadZipDirectory(TZipSource& source, TZipDirectory& directory, std::string& error,
                      const TZipLimits& limits = TZipLimits());

// The offset of the entry's data, read from its local header. False when the
// header is not one or the data would reach past the central directory.
bool LocateEntryData(TZipSource& source, const TZipDirectory& directory, const TZipEntry& entry,
                     int64_t& dataOffset, std::string& error);
