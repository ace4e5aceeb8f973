#include "update/UpdateFiles.h"

#include "common/Md5.h"
#include "common/PathUtils.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "update/ProgressScale.h"

namespace {

// Larger local manifests or state files are not ours.
constexpr int64_t MaxManifestFileSize = 256 << 20;

std::string ReadSmallFile(const std::string& path, int64_t limit) {
  TFileStream file(path, TFileMode::ReadShared);
  const int64_t size = file.Size();
  if (size > limit) throw EFileError("File \"" + path + "\" is too large");
  std::string bytes(static_cast<size_t>(size), '\0');
  file.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

bool IsEmptyFileDigest(const std::string& digest) { return digest == ZeroDigest || digest == EmptyInputMd5; }

}  // namespace

std::string FileDigest(const std::string& path) { return MD5OfFile(path); }

std::string BufferDigest(const void* data, size_t length) { return MD5OfMemory(data, length); }

bool DigestAgrees(const std::string& digest, const std::string& expected, const std::string& path) {
  if (!IsEmptyFileDigest(expected)) return digest == expected;
  // 32 "0" is also what an unreadable file yields: it stands for the empty
  // file only when the file really is empty.
  return IsEmptyFileDigest(digest) && GetFileSize(path) == 0;
}

TUpdateFiles::TUpdateFiles(const std::string& launcherFolder, const std::string& launcherBaseName,
                           const std::string& stateFile, const std::string& manifestName)
    : FFolder(launcherFolder), FBaseName(launcherBaseName), FStateFile(stateFile), FManifestName(manifestName) {}

void TUpdateFiles::Status(const std::string& text) const {
  if (OnStatus) OnStatus(text);
}

void TUpdateFiles::TotalProgress(int64_t position, int64_t maximum) const {
  if (!OnTotalProgress) return;
  const TProgressPair pair = ScaleProgress(position, maximum);
  OnTotalProgress(pair.position, pair.maximum);
}

void TUpdateFiles::Log(const std::string& text) const {
  if (OnLog) OnLog(text);
  else DebugOutput(text);
}

std::string TUpdateFiles::LocalName(const TManifestEntry& entry) const {
  return entry.isLauncher != 0 ? FBaseName + ".update" : entry.File;
}

bool TUpdateFiles::LoadManifest() {
  FManifest = nullptr;
  const std::string path = FFolder + "data\\" + FManifestName;
  if (!FileExists(path)) return false;
  try {
    ParseUpdateJson(ReadSmallFile(path, MaxManifestFileSize), FManifest);
  } catch (const EFileError& error) {
    Log(std::string("LoadUpdateJson: ") + error.what());
    return false;
  }
  return FManifest.is_array() && !FManifest.empty();
}

void TUpdateFiles::LoadState() {
  FStateChanged = false;
  const std::string path = FFolder + FStateFile;
  if (!FileExists(path)) return;
  std::string text;
  try {
    text = ReadSmallFile(path, MaxStateFileSize);
  } catch (const EFileError& error) {
    Log(std::string("LoadState: ") + error.what());
    return;
  }
  ParseStateText(text, [this](const std::string& name, const std::string& digest, int32_t time) {
    const std::string file = FFolder + name;
    uint32_t now = 0;
    const bool changed = GetFileDosDateTime(file, now) && static_cast<int32_t>(now) != time;
    if (changed) FStateChanged = true;
    // A later line for the same name is ignored; its digest is not needed.
    if (FTable.Find(name)) return;
    auto entry = std::make_unique<TStateEntry>();
    entry->name = name;
    entry->digest = changed ? FileDigest(file) : digest;
    entry->time = changed ? static_cast<int32_t>(now) : time;
    FTable.Add(name, std::move(entry));
  });
}

void TUpdateFiles::SaveState() {
  if (FTable.Count() == 0) return;
  std::string text;
  for (const TStateEntry* entry = FTable.First(); !FTable.AtEnd(); entry = FTable.Next())
    text += FormatStateLine(*entry) + "\r\n";
  const std::string path = FFolder + FStateFile;
  // Written beside the state file and renamed over it, so an interrupted
  // write never leaves a half state file behind.
  const std::string temporary = path + ".tmp";
  try {
    ForceDirectories(ExtractFilePath(path));
    {
      TFileStream file(temporary, TFileMode::CreateTruncate);
      file.WriteBuffer(text.data(), text.size());
    }
    if (!RenameFileAt(temporary, path)) throw EFileError("Cannot replace \"" + path + "\". " + LastFileErrorText());
  } catch (const EFileError& error) {
    DeleteFileAt(temporary);
    Log(std::string("SaveState: ") + error.what());
  }
}

bool TUpdateFiles::VerifyFile(const std::string& name, const std::string& expected) {
  const std::string path = FFolder + name;
  if (!FileExists(path)) return false;
  uint32_t time = 0;
  GetFileDosDateTime(path, time);
  const std::string digest = FileDigest(path);
  const bool match = DigestAgrees(digest, expected, path);
  Log(digest + "+++" + expected);
  // On a match the expected spelling is recorded, so that the next compare
  // finds it equal to the manifest's hash.
  const std::string recorded = match ? expected : digest;
  TStateEntry* entry = FTable.Find(name);
  if (!entry || !match || entry->digest != recorded || entry->time != static_cast<int32_t>(time)) FStateChanged = true;
  if (!entry) {
    auto created = std::make_unique<TStateEntry>();
    entry = created.get();
    FTable.Add(name, std::move(created));
  }
  entry->name = name;
  entry->digest = recorded;
  entry->time = static_cast<int32_t>(time);
  return match;
}
