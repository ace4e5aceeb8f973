#include "update/archive/ZipDirectory.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "platform/CodePage.h"
#include "update/archive/ZipFormat.h"

using namespace zipformat;

namespace {

struct TEnd {
  uint64_t entries = 0;
  uint64_t directorySize = 0;
  uint64_t directoryOffset = 0;
  int64_t directoryEnd = 0;  // where the directory really ends in the file
};

bool Fail(std::string& error, const char* text) {
  error = text;
  return false;
}

// The end record is the last signature whose comment fits the file.
bool FindEnd(TZipSource& source, int64_t& endOffset, std::string& tail, std::string& error) {
  const int64_t size = source.Size();
  if (size < static_cast<int64_t>(EndSize)) return Fail(error, "not a ZIP archive (too short)");
  const int64_t length = std::min<int64_t>(size, EndSize + MaxCommentSize);
  tail.resize(static_cast<size_t>(length));
  if (!source.ReadAt(size - length, tail.data(), tail.size())) return Fail(error, "cannot read the archive's end");
  const auto* bytes = reinterpret_cast<const uint8_t*>(tail.data());
  for (int64_t at = length - static_cast<int64_t>(EndSize); at >= 0; --at) {
    if (Get32(bytes + at) != EndSignature) continue;
    if (at + static_cast<int64_t>(EndSize) + Get16(bytes + at + 20) > length) continue;
    endOffset = size - length + at;
    tail.erase(0, static_cast<size_t>(at));
    return true;
  }
  return Fail(error, "not a ZIP archive (no end of central directory)");
}

bool ReadZip64End(TZipSource& source, int64_t endOffset, TEnd& end, bool& found, std::string& error) {
  found = false;
  if (endOffset < static_cast<int64_t>(Zip64LocatorSize)) return true;
  uint8_t locator[Zip64LocatorSize];
  if (!source.ReadAt(endOffset - Zip64LocatorSize, locator, sizeof locator)) return true;
  if (Get32(locator) != Zip64LocatorSignature) return true;
  if (Get32(locator + 4) != 0 || Get32(locator + 16) > 1) return Fail(error, "archives on several disks are not supported");
  // The record lies where the locator says, or right before the locator
  // when bytes were put before the archive.
  uint8_t record[Zip64EndSize];
  int64_t recordOffset = static_cast<int64_t>(Get64(locator + 8));
  if (recordOffset < 0 || recordOffset > endOffset || !source.ReadAt(recordOffset, record, sizeof record) ||
      Get32(record) != Zip64EndSignature) {
    recordOffset = endOffset - static_cast<int64_t>(Zip64LocatorSize + Zip64EndSize);
    if (recordOffset < 0 || !source.ReadAt(recordOffset, record, sizeof record) || Get32(record) != Zip64EndSignature)
      return Fail(error, "damaged ZIP64 end of central directory");
  }
  if (Get32(record + 16) != 0 || Get32(record + 20) != 0) return Fail(error, "archives on several disks are not supported");
  end.entries = Get64(record + 32);
  end.directorySize = Get64(record + 40);
  end.directoryOffset = Get64(record + 48);
  // The central directory ends where this record starts.
  end.directoryEnd = recordOffset;
  found = true;
  return true;
}

// Replaces the 32-bit fields marked 0xFFFFFFFF from a ZIP64 extra field.
bool ApplyZip64Extra(const uint8_t* data, size_t size, TZipEntry& entry, bool wantSize, bool wantCompressed,
                     bool wantOffset) {
  size_t at = 0;
  auto take = [&](bool want, uint64_t& field) {
    if (!want) return true;
    if (at + 8 > size) return false;
    field = Get64(data + at);
    at += 8;
    return true;
  };
  return take(wantSize, entry.UncompressedSize) && take(wantCompressed, entry.CompressedSize) &&
         take(wantOffset, entry.LocalHeaderOffset);
}

bool IsUtf8(const std::string& text) {
  bool wide = false;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t follow = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    if (follow == 9 || i + follow >= text.size()) return false;
    for (size_t k = 1; k <= follow; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    wide = wide || follow > 0;
    i += follow + 1;
  }
  return wide;
}

// Parses one central directory header at `p` (`available` bytes left).
bool ParseCentralHeader(const uint8_t* p, size_t available, TZipEntry& entry, size_t& length, std::string& error) {
  if (available < CentralHeaderSize || Get32(p) != CentralHeaderSignature)
    return Fail(error, "damaged central directory");
  const uint16_t madeBy = Get16(p + 4);
  entry.Flags = Get16(p + 8);
  entry.Method = Get16(p + 10);
  entry.DosDateTime = static_cast<uint32_t>(Get16(p + 14)) << 16 | Get16(p + 12);
  entry.Crc32 = Get32(p + 16);
  entry.CompressedSize = Get32(p + 20);
  entry.UncompressedSize = Get32(p + 24);
  const size_t nameLength = Get16(p + 28), extraLength = Get16(p + 30), commentLength = Get16(p + 32);
  const uint16_t disk = Get16(p + 34);
  entry.LocalHeaderOffset = Get32(p + 42);
  length = CentralHeaderSize + nameLength + extraLength + commentLength;
  if (length > available) return Fail(error, "damaged central directory");
  std::string raw(reinterpret_cast<const char*>(p + CentralHeaderSize), nameLength);
  std::string unicode;
  const uint8_t* extra = p + CentralHeaderSize + nameLength;
  bool zip64Ok = true;
  for (size_t at = 0; at + 4 <= extraLength;) {
    const uint16_t tag = Get16(extra + at), size = Get16(extra + at + 2);
    if (at + 4 + size > extraLength) break;
    const uint8_t* data = extra + at + 4;
    if (tag == Zip64ExtraTag)
      zip64Ok = ApplyZip64Extra(data, size, entry, entry.UncompressedSize == Max32, entry.CompressedSize == Max32,
                                entry.LocalHeaderOffset == Max32);
    if (tag == UnicodePathExtraTag && size > 5 && data[0] == 1 &&
        Get32(data + 1) == crc32(0, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size())))
      unicode.assign(reinterpret_cast<const char*>(data + 5), size - 5);
    at += 4 + size;
  }
  if (!zip64Ok) return Fail(error, "damaged ZIP64 extra field");
  if (disk != 0 && disk != Max16) return Fail(error, "archives on several disks are not supported");
  if (entry.Flags & FlagUtf8) entry.Name = Utf8ToCp936(raw);
  else if (!unicode.empty()) entry.Name = Utf8ToCp936(unicode);
  // Archives made on Unix without the flag usually hold UTF-8 names too.
  else if ((madeBy >> 8) == 3 && IsUtf8(raw)) entry.Name = Utf8ToCp936(raw);
  else entry.Name = raw;
  return true;
}

}  // namespace

TZipFileSource::TZipFileSource(const std::string& path) : FFile(path, TFileMode::ReadShared), FSize(FFile.Size()) {}

bool TZipFileSource::ReadAt(int64_t offset, void* buffer, size_t count) {
  if (offset < 0) return false;
  FFile.Seek(offset);
  return FFile.Read(buffer, count) == count;
}

bool TZipMemorySource::ReadAt(int64_t offset, void* buffer, size_t count) {
  if (offset < 0 || static_cast<uint64_t>(offset) > FSize || count > FSize - static_cast<size_t>(offset)) return false;
  if (count) std::memcpy(buffer, FData + offset, count);
  return true;
}

bool ReadZipDirectory(TZipSource& source, TZipDirectory& directory, std::string& error, const TZipLimits& limits) {
  directory = TZipDirectory();
  int64_t endOffset = 0;
  std::string tail;
  if (!FindEnd(source, endOffset, tail, error)) return false;
  const auto* record = reinterpret_cast<const uint8_t*>(tail.data());
  if (Get16(record + 4) != 0 || Get16(record + 6) != 0) return Fail(error, "archives on several disks are not supported");
  TEnd end;
  end.entries = Get16(record + 10);
  end.directorySize = Get32(record + 12);
  end.directoryOffset = Get32(record + 16);
  end.directoryEnd = endOffset;
  bool zip64 = false;
  if (!ReadZip64End(source, endOffset, end, zip64, error)) return false;
  if (end.entries > limits.MaxEntries) return Fail(error, "too many entries");
  if (end.directorySize > limits.MaxDirectoryBytes) return Fail(error, "central directory too large");
  if (end.directorySize > static_cast<uint64_t>(end.directoryEnd) ||
      end.directoryOffset > static_cast<uint64_t>(end.directoryEnd) - end.directorySize)
    return Fail(error, "central directory outside the archive");
  // Bytes put before the archive (a self-extracting stub) shift every offset.
  const int64_t start = end.directoryEnd - static_cast<int64_t>(end.directorySize);
  const int64_t shift = start - static_cast<int64_t>(end.directoryOffset);
  std::string bytes(static_cast<size_t>(end.directorySize), '\0');
  if (!source.ReadAt(start, bytes.data(), bytes.size())) return Fail(error, "cannot read the central directory");
  directory.DirectoryOffset = start;
  directory.Entries.reserve(static_cast<size_t>(std::min<uint64_t>(end.entries, 65536)));
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t at = 0;
  for (uint64_t i = 0; i < end.entries; ++i) {
    TZipEntry entry;
    size_t length = 0;
    if (!ParseCentralHeader(p + at, bytes.size() - at, entry, length, error)) return false;
    if (entry.LocalHeaderOffset > static_cast<uint64_t>(start - shift)) return Fail(error, "entry outside the archive");
    entry.LocalHeaderOffset += static_cast<uint64_t>(shift);
    directory.Entries.push_back(std::move(entry));
    at += length;
  }
  return true;
}

bool LocateEntryData(TZipSource& source, const TZipDirectory& directory, const TZipEntry& entry, int64_t& dataOffset,
                     std::string& error) {
  uint8_t header[LocalHeaderSize];
  const int64_t offset = static_cast<int64_t>(entry.LocalHeaderOffset);
  if (!source.ReadAt(offset, header, sizeof header) || Get32(header) != LocalHeaderSignature)
    return Fail(error, "damaged local header");
  dataOffset = offset + static_cast<int64_t>(LocalHeaderSize) + Get16(header + 26) + Get16(header + 28);
  if (dataOffset > directory.DirectoryOffset ||
      entry.CompressedSize > static_cast<uint64_t>(directory.DirectoryOffset - dataOffset))
    return Fail(error, "entry data outside the archive");
  return true;
}
