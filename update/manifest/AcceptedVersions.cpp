#include "update/manifest/AcceptedVersions.h"

#include "common/Format.h"
#include "common/PathUtils.h"
#include "platform/File.h"

namespace {

bool ParseVersion(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

}  // namespace

std::string AcceptedVersionsFileName(int mode) { return Format("data\\update%d.versions", mode); }

std::map<std::string, uint64_t> ParseAcceptedVersions(const std::string& text) {
  std::map<std::string, uint64_t> marks;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t equals = line.find('=');
    uint64_t version = 0;
    if (equals != std::string::npos && equals > 0 && ParseVersion(line.substr(equals + 1), version))
      marks[line.substr(0, equals)] = version;
    start = end + 1;
  }
  return marks;
}

std::string FormatAcceptedVersions(const std::map<std::string, uint64_t>& marks) {
  std::string text;
  for (const auto& [document, version] : marks) text += document + "=" + std::to_string(version) + "\r\n";
  return text;
}

TAcceptedVersions::TAcceptedVersions(std::string path) : FPath(std::move(path)) {}

std::map<std::string, uint64_t> TAcceptedVersions::Load() const {
  if (!FileExists(FPath)) return {};
  try {
    TFileStream file(FPath, TFileMode::ReadShared);
    const int64_t size = file.Size();
    if (size > MaxAcceptedVersionsFileSize) return {};
    std::string text(static_cast<size_t>(size), '\0');
    file.ReadBuffer(text.data(), text.size());
    return ParseAcceptedVersions(text);
  } catch (const EFileError&) {
    return {};
  }
}

uint64_t TAcceptedVersions::Highest(const std::string& document) const {
  const std::map<std::string, uint64_t> marks = Load();
  const auto found = marks.find(document);
  return found == marks.end() ? 0 : found->second;
}

bool TAcceptedVersions::Raise(const std::string& document, uint64_t version, std::string& error) {
  std::map<std::string, uint64_t> marks = Load();
  if (marks.count(document) && marks[document] >= version) return true;
  marks[document] = version;
  const std::string text = FormatAcceptedVersions(marks);
  const std::string temporary = FPath + ".tmp";
  try {
    ForceDirectories(ExtractFilePath(FPath));
    TFileStream file(temporary, TFileMode::CreateTruncate);
    file.WriteBuffer(text.data(), text.size());
    file.Flush();
  } catch (const EFileError& e) {
    DeleteFileAt(temporary);
    error = e.what();
    return false;
  }
  if (!RenameFileAt(temporary, FPath)) {
    error = "Cannot replace \"" + FPath + "\". " + LastFileErrorText();
    DeleteFileAt(temporary);
    return false;
  }
  return true;
}
