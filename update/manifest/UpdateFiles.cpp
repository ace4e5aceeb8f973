#include "update/manifest/UpdateFiles.h"

#include "common/Md5.h"
#include "common/PathUtils.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "update/run/ProgressScale.h"

namespace {

// Larger local manifests or state files are not ours.
constexpr int64_t MaxManifestFileSize = 256 << 20;

// The state file is read, and written, this much at a time.
constexpr size_t StateReadChunk = 256 << 10;

}  // namespace

std::string FileDigest(const std::string& path) { return MD5OfFile(path); }

std::string BufferDigest(const void* data, size_t length) { return MD5OfMemory(data, length); }

bool DigestAgrees(const std::string& digest, const std::string& expected, const std::string& path) {
  if (!IsEmptyDigest(expected)) return digest == expected;
  // 32 "0" is also what an unreadable file yields: it stands for the empty
  // file only when the file really is empty.
  return IsEmptyDigest(digest) && GetFileSize(path) == 0;
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

bool ReadManifestCopy(const std::string& path, TManifest& manifest) {
  manifest.Clear();
  if (!FileExists(path)) return false;
  try {
    TFileStream file(path, TFileMode::ReadShared);
    if (file.Size() > MaxManifestFileSize) throw EFileError("File \"" + path + "\" is too large");
    manifest.Read([&file](char* buffer, size_t capacity) { return file.Read(buffer, capacity); });
  } catch (const EFileError&) {
    manifest.Clear();
    throw;
  }
  return !manifest.Empty();
}

bool TUpdateFiles::LoadManifest() {
  try {
    return ReadManifestCopy(FFolder + "data\\" + FManifestName, FManifest);
  } catch (const EFileError& error) {
    Log(std::string("LoadUpdateJson: ") + error.what());
    return false;
  }
}

void TUpdateFiles::LoadState() {
  FStateChanged = false;
  FLoadChecksValid = true;
  const std::string path = FFolder + FStateFile;
  if (!FileExists(path)) return;
  std::string file = FFolder;
  auto line = [this, &file](std::string_view name, std::string_view digest, int32_t time) {
    file.resize(FFolder.size());
    file.append(name);
    const TFileCheck check = CheckFile(file);
    const bool changed = check.hasTime && static_cast<int32_t>(check.dosDateTime) != time;
    if (changed) FStateChanged = true;
    // A later line for the same name is ignored; its digest is not needed.
    auto entry = std::make_unique<TStateEntry>();
    entry->name = name;
    if (FTable.Find(entry->name)) return;
    entry->digest = changed ? FileDigest(file) : std::string(digest);
    entry->time = changed ? static_cast<int32_t>(check.dosDateTime) : time;
    entry->seenAtLoad = check.isFile;
    const std::string& key = entry->name;  // lives on in the table
    FTable.Add(key, std::move(entry));
  };
  // Read a chunk at a time: only whole lines are parsed, the rest waits for
  // the next chunk. An empty line is skipped, so a CR LF split between two
  // chunks does no harm.
  try {
    TFileStream file(path, TFileMode::ReadShared);
    if (file.Size() > MaxStateFileSize) throw EFileError("File \"" + path + "\" is too large");
    std::string text;
    std::vector<char> chunk(StateReadChunk);
    for (size_t count; (count = file.Read(chunk.data(), chunk.size())) > 0;) {
      text.append(chunk.data(), count);
      const size_t end = text.find_last_of("\r\n");
      if (end == std::string::npos) continue;
      ForEachStateLine(std::string_view(text).substr(0, end + 1), line);
      text.erase(0, end + 1);
    }
    ForEachStateLine(text, line);
  } catch (const EFileError& error) {
    Log(std::string("LoadState: ") + error.what());
  }
}

void TUpdateFiles::SaveState() {
  if (FTable.Count() == 0) return;
  const std::string path = FFolder + FStateFile;
  // Written beside the state file and renamed over it, so an interrupted
  // write never leaves a half state file behind. The lines go out a chunk at
  // a time, not as one text of the whole table.
  const std::string temporary = path + ".tmp";
  try {
    ForceDirectories(ExtractFilePath(path));
    {
      TFileStream file(temporary, TFileMode::CreateTruncate);
      std::string text;
      for (const TStateEntry* entry = FTable.First(); !FTable.AtEnd(); entry = FTable.Next()) {
        AppendStateLine(*entry, text);
        if (text.size() < StateReadChunk) continue;
        file.WriteBuffer(text.data(), text.size());
        text.clear();
      }
      file.WriteBuffer(text.data(), text.size());
    }
    if (!RenameFileAt(temporary, path)) throw EFileError("Cannot replace \"" + path + "\". " + LastFileErrorText());
  } catch (const EFileError& error) {
    DeleteFileAt(temporary);
    Log(std::string("SaveState: ") + error.what());
  }
}

bool TUpdateFiles::VerifyFile(const std::string& name, const std::string& expected, const std::string& written) {
  FLoadChecksValid = false;
  const std::string path = FFolder + name;
  if (!FileExists(path)) return false;
  uint32_t time = 0;
  GetFileDosDateTime(path, time);
  const std::string digest = written.empty() ? FileDigest(path) : written;
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
