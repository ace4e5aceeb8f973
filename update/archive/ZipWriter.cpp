#include "update/archive/ZipWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileTime.h"
#include "update/archive/ZipFormat.h"

using namespace zipformat;

namespace {

constexpr size_t Chunk = 1 << 20;

bool NeedsZip64(uint64_t value) { return value >= Max32; }

uint32_t Low32(uint64_t value) { return NeedsZip64(value) ? Max32 : static_cast<uint32_t>(value); }

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// 1980-01-01 00:00, the earliest DOS time, for files whose time cannot be read.
constexpr uint32_t EarliestDosTime = (1u << 5 | 1u) << 16;

}  // namespace

TZipWriter::TZipWriter(const std::string& path, int level) : FFile(path, TFileMode::CreateTruncate), FLevel(level) {}

void TZipWriter::AddFile(const std::string& source, const std::string& name) {
  TFileStream file(source, TFileMode::ReadShared);
  uint32_t dosDateTime = EarliestDosTime;
  GetFileDosDateTime(source, dosDateTime);
  AddStream(
      name, static_cast<uint64_t>(file.Size()), dosDateTime,
      [&](uint8_t* buffer, size_t count) { return file.Read(buffer, count); }, [&] { file.Seek(0); });
}

void TZipWriter::AddBytes(const std::string& name, const std::string& bytes, uint32_t dosDateTime) {
  size_t at = 0;
  AddStream(
      name, bytes.size(), dosDateTime,
      [&](uint8_t* buffer, size_t count) {
        const size_t n = std::min(count, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        return n;
      },
      [&] { at = 0; });
}

void TZipWriter::AddStream(const std::string& name, uint64_t size, uint32_t dosDateTime, const TRead& read,
                          const std::function<void()>& rewind) {
  TCentralEntry entry{Cp936ToUtf8(name), 0, size ? MethodDeflated : MethodStored, dosDateTime, 0, 0, 0,
                      static_cast<uint64_t>(FFile.Position())};
  if (!IsAscii(entry.name)) entry.flags |= FlagUtf8;
  // The local header carries both sizes in a ZIP64 field when the file is
  // that large; the data never grows past the file's size (it is stored then).
  const bool zip64 = NeedsZip64(size);
  std::string header;
  Put32(header, LocalHeaderSignature);
  Put16(header, zip64 ? 45 : 20);
  Put16(header, entry.flags);
  Put16(header, entry.method);
  Put32(header, dosDateTime);
  Put32(header, 0);                   // CRC-32, set below
  Put32(header, zip64 ? Max32 : 0);   // compressed size
  Put32(header, zip64 ? Max32 : 0);   // uncompressed size
  Put16(header, static_cast<uint16_t>(entry.name.size()));
  Put16(header, zip64 ? 20 : 0);
  header += entry.name;
  if (zip64) {
    Put16(header, Zip64ExtraTag);
    Put16(header, 16);
    Put64(header, 0);
    Put64(header, 0);
  }
  FFile.WriteBuffer(header.data(), header.size());
  const int64_t dataStart = FFile.Position();
  uint32_t crc = 0;
  uint64_t compressed = entry.method == MethodDeflated ? Deflate(read, crc) : Store(read, crc);
  if (entry.method == MethodDeflated && compressed >= size) {
    // Deflate did not help: the bytes go in as they are.
    FFile.Seek(dataStart);
    rewind();
    compressed = Store(read, crc);
    FFile.Truncate(FFile.Position());
    entry.method = MethodStored;
  }
  entry.crc = crc;
  entry.compressedSize = compressed;
  entry.uncompressedSize = size;
  const int64_t end = FFile.Position();
  std::string patch;
  Put16(patch, entry.method);
  Put32(patch, dosDateTime);
  Put32(patch, crc);
  Put32(patch, zip64 ? Max32 : static_cast<uint32_t>(compressed));
  Put32(patch, zip64 ? Max32 : static_cast<uint32_t>(size));
  FFile.Seek(static_cast<int64_t>(entry.offset) + 8);
  FFile.WriteBuffer(patch.data(), patch.size());
  if (zip64) {
    std::string sizes;
    Put64(sizes, size);
    Put64(sizes, compressed);
    FFile.Seek(static_cast<int64_t>(entry.offset + LocalHeaderSize + entry.name.size() + 4));
    FFile.WriteBuffer(sizes.data(), sizes.size());
  }
  FFile.Seek(end);
  FEntries.push_back(std::move(entry));
}

uint64_t TZipWriter::Store(const TRead& read, uint32_t& crc) {
  std::vector<uint8_t> buffer(Chunk);
  uLong sum = crc32(0, Z_NULL, 0);
  uint64_t total = 0;
  for (size_t n; (n = read(buffer.data(), buffer.size())) > 0; total += n) {
    sum = crc32(sum, buffer.data(), static_cast<uInt>(n));
    FFile.WriteBuffer(buffer.data(), n);
  }
  crc = static_cast<uint32_t>(sum);
  return total;
}

uint64_t TZipWriter::Deflate(const TRead& read, uint32_t& crc) {
  z_stream stream{};
  if (deflateInit2(&stream, FLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
  std::vector<uint8_t> in(Chunk), out(Chunk);
  uLong sum = crc32(0, Z_NULL, 0);
  uint64_t total = 0;
  try {
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
      const size_t n = read(in.data(), in.size());
      sum = crc32(sum, in.data(), static_cast<uInt>(n));
      flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
      stream.next_in = in.data();
      stream.avail_in = static_cast<uInt>(n);
      do {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, flush);
        const size_t produced = out.size() - stream.avail_out;
        FFile.WriteBuffer(out.data(), produced);
        total += produced;
      } while (stream.avail_out == 0);
    }
  } catch (...) {
    deflateEnd(&stream);
    throw;
  }
  deflateEnd(&stream);
  crc = static_cast<uint32_t>(sum);
  return total;
}

int64_t TZipWriter::Finish() {
  const uint64_t directoryOffset = static_cast<uint64_t>(FFile.Position());
  std::string directory;
  for (const TCentralEntry& entry : FEntries) {
    std::string extra;
    if (NeedsZip64(entry.uncompressedSize)) Put64(extra, entry.uncompressedSize);
    if (NeedsZip64(entry.compressedSize)) Put64(extra, entry.compressedSize);
    if (NeedsZip64(entry.offset)) Put64(extra, entry.offset);
    if (!extra.empty()) {
      std::string field;
      Put16(field, Zip64ExtraTag);
      Put16(field, static_cast<uint16_t>(extra.size()));
      extra = field + extra;
    }
    Put32(directory, CentralHeaderSignature);
    Put16(directory, extra.empty() ? 20 : 45);  // made by: MS-DOS, version
    Put16(directory, extra.empty() ? 20 : 45);
    Put16(directory, entry.flags);
    Put16(directory, entry.method);
    Put32(directory, entry.dosDateTime);
    Put32(directory, entry.crc);
    Put32(directory, Low32(entry.compressedSize));
    Put32(directory, Low32(entry.uncompressedSize));
    Put16(directory, static_cast<uint16_t>(entry.name.size()));
    Put16(directory, static_cast<uint16_t>(extra.size()));
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, 0);  // external attributes
    Put32(directory, Low32(entry.offset));
    directory += entry.name;
    directory += extra;
    if (directory.size() >= Chunk) {
      FFile.WriteBuffer(directory.data(), directory.size());
      directory.clear();
    }
  }
  FFile.WriteBuffer(directory.data(), directory.size());
  const uint64_t zip64EndOffset = static_cast<uint64_t>(FFile.Position());
  const uint64_t directorySize = zip64EndOffset - directoryOffset;
  const uint64_t count = FEntries.size();
  std::string end;
  const bool zip64 = count >= Max16 || NeedsZip64(directorySize) || NeedsZip64(directoryOffset);
  if (zip64) {
    Put32(end, Zip64EndSignature);
    Put64(end, Zip64EndSize - 12);
    Put16(end, 45);
    Put16(end, 45);
    Put32(end, 0);
    Put32(end, 0);
    Put64(end, count);
    Put64(end, count);
    Put64(end, directorySize);
    Put64(end, directoryOffset);
    Put32(end, Zip64LocatorSignature);
    Put32(end, 0);
    Put64(end, zip64EndOffset);
    Put32(end, 1);
  }
  const uint16_t shortCount = count >= Max16 ? Max16 : static_cast<uint16_t>(count);
  Put32(end, EndSignature);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, shortCount);
  Put16(end, shortCount);
  Put32(end, Low32(directorySize));
  Put32(end, Low32(directoryOffset));
  Put16(end, 0);
  FFile.WriteBuffer(end.data(), end.size());
  return FFile.Position();
}
