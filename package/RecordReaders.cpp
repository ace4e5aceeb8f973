// The two record readers: one skin image or one position entry per call,
// each opening the program file anew, so no copy of the skin stays in memory.
#include "common/Format.h"
#include "common/Log.h"
#include "package/PackageFormat.h"
#include "package/PackageReader.h"
#include "platform/File.h"

namespace {

// Logs the closing pair on every way out of a reader.
class TReaderExitLog {
public:
  TReaderExitLog(std::string begin, std::string end) : FBegin(std::move(begin)), FEnd(std::move(end)) {}
  ~TReaderExitLog() {
    LogError(FBegin);
    LogError(FEnd);
  }

private:
  std::string FBegin, FEnd;
};

std::optional<std::vector<uint8_t>> ReadImageRecord(TFileStream& file, const TPackageLocations& locations,
                                                    int32_t& cursor, const TSkinImageDecoder& decode) {
  LogError(Format("load img seek=%d", cursor));
  uint8_t lengthBytes[4];
  file.Seek(cursor);
  const bool lengthRead = cursor >= 0 && file.Read(lengthBytes, 4) == 4;
  cursor = static_cast<int32_t>(static_cast<uint32_t>(cursor) + 4u);
  const int32_t length = lengthRead ? static_cast<int32_t>(LoadLE32(lengthBytes)) : 0;
  LogError(Format("load img size=%d", length));
  if (length <= 0) return std::nullopt;

  LogError(Format("load img strMem.SetSize(nImgSize) size=%d, seek=%d", length, cursor));
  const int64_t dataStart = cursor;
  const int64_t next = dataStart + length;
  const int64_t resEnd = static_cast<int64_t>(locations.resoffset) + locations.ressize;
  cursor = static_cast<int32_t>(static_cast<uint32_t>(cursor) + static_cast<uint32_t>(length));
  if (next > INT32_MAX || next > resEnd) {
    LogError(Format("load img file error seek=%d, size=%d, resBegin=%d, resEnd=%d", cursor, length,
                    locations.resoffset, static_cast<int32_t>(resEnd)));
    return std::nullopt;
  }

  LogError("1load img create istream begin");
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  file.Seek(dataStart);
  if (file.Read(bytes.data(), bytes.size()) != bytes.size()) return std::nullopt;
  LogError("2load img create istream begin ");
  if (decode) {
    if (!decode(bytes)) return std::nullopt;
  } else {
    LogError("3load img create istream begin");
    LogError("4load img create istream begin");
    LogError("5load img create istream begin");
  }
  return bytes;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadSkinImageFrom(const std::string& exePath, const TPackageLocations& locations,
                                                      const std::string& label, int32_t& cursor,
                                                      const TSkinImageDecoder& decode) {
  LogError(Format("load img %s beginning", label.c_str()));
  TReaderExitLog exitLog(Format("load img %s free MEM and filestream begin", label.c_str()),
                         Format("load img %s free MEM and filestream end", label.c_str()));
  try {
    TFileStream file(exePath, TFileMode::ReadShared);
    return ReadImageRecord(file, locations, cursor, decode);
  } catch (const EFileError& e) {
    LogError(Format("load img %s error %s", label.c_str(), e.what()));
    return std::nullopt;
  }
}

std::optional<std::vector<uint8_t>> ReadSkinImage(const std::string& label, int32_t& cursor,
                                                  const TSkinImageDecoder& decode) {
  return ReadSkinImageFrom(GetModuleFilePath(), PackageLocations, label, cursor, decode);
}

std::optional<int> ReadPosEntryFrom(const std::string& exePath, const TPackageLocations& locations,
                                    const std::string& label, int32_t& cursor) {
  const char* name = label.c_str();
  LogError(Format("load img pos %s beginning", name));
  LogError(Format("load img pos %s create MEM", name));
  LogError(Format("load img pos %s create filestream", name));
  TReaderExitLog exitLog(Format("load img pos %s free MEM and filestream begin", name),
                         Format("load img pos %s free MEM and filestream end", name));
  const int32_t at = cursor;
  cursor = static_cast<int32_t>(static_cast<uint32_t>(cursor) + 2u);
  try {
    TFileStream file(exePath, TFileMode::ReadShared);
    LogError(Format("load img pos %s begin, offset=%d", name, at));
    const int64_t posEnd = static_cast<int64_t>(locations.posoffset) + locations.possize;
    uint8_t entry[2];
    file.Seek(at);
    if (at <= 0 || at + 2LL > posEnd || file.Read(entry, 2) != 2) {
      LogError(Format("load img pos %s error, offset=%d, posend=%d", name, at, static_cast<int32_t>(posEnd)));
      return std::nullopt;
    }
    const int value = static_cast<int16_t>(entry[0] | entry[1] << 8);
    LogError(Format("load img pos %s end, result=%d", name, value));
    return value;
  } catch (const EFileError& e) {
    LogError(Format("load img pos %s error %s", name, e.what()));
    return std::nullopt;
  }
}

std::optional<int> ReadPosEntry(const std::string& label, int32_t& cursor) {
  return ReadPosEntryFrom(GetModuleFilePath(), PackageLocations, label, cursor);
}
