// launcher.ini as a damaged or hand-edited file may hold it, through the
// profile reader and writer: reading any key never fails, a one-line value
// written reads back as written, and such a write changes no other key's
// value.
// Input: one byte choosing the section and key written, one byte giving the
// length of the value, the value, then the file's contents.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzTempFolder.h"
#include "package/LauncherSettings.h"
#include "platform/File.h"
#include "platform/Profile.h"

namespace {

const char* const Sections[] = {"Main", "MAIN", "Other"};
const char* const Keys[] = {"lastserver", "UpdateNow", "k"};
constexpr int SectionCount = 3;
constexpr int KeyCount = 3;

struct TValues {
  std::string Of[SectionCount][KeyCount];
};

// The same name as the profile functions compare them: ASCII letters
// without case.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? a[i] + 32 : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? b[i] + 32 : b[i];
    if (x != y) return false;
  }
  return true;
}

TValues ReadAll(const std::string& path) {
  TValues values;
  for (int s = 0; s < SectionCount; ++s)
    for (int k = 0; k < KeyCount; ++k) values.Of[s][k] = ReadIniString(path, Sections[s], Keys[k], "\x01");
  return values;
}

// A one-line value the file format keeps as it is: no blank at either end
// (values are trimmed), not wrapped in quotes (they are taken off).
bool KeptAsWritten(const std::string& value) {
  if (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' || value.back() == '\t'))
    return false;
  return !(value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int section = data[0] % SectionCount;
  const int key = data[0] / SectionCount % KeyCount;
  const size_t valueLength = std::min<size_t>(data[1], size - 2);
  const std::string value(reinterpret_cast<const char*>(data + 2), valueLength);
  const std::string folder = FuzzTempFolder();
  const std::string path = SettingsPath(folder);
  {
    TFileStream file(path, TFileMode::CreateTruncate);
    file.WriteBuffer(data + 2 + valueLength, size - 2 - valueLength);
  }

  // What the launcher reads at start.
  ReadLastServer(folder);
  ReadUpdateNow(folder);

  const TValues before = ReadAll(path);
  WriteIniString(path, Sections[section], Keys[key], value);
  const TValues after = ReadAll(path);
  // A line break in a value would start new lines of the file: the format
  // cannot hold it, and the launcher writes numbers only.
  const bool oneLine = value.find_first_of("\r\n") == std::string::npos;
  for (int s = 0; s < SectionCount && oneLine; ++s)
    for (int k = 0; k < KeyCount; ++k) {
      const bool written = SameName(Sections[s], Sections[section]) && k == key;
      if (!written && after.Of[s][k] != before.Of[s][k]) std::abort();
      if (written && KeptAsWritten(value) && after.Of[s][k] != value) std::abort();
    }

  // The launcher's own write: the chosen server reads back.
  const int server = static_cast<int>(size * 2654435761u);
  WriteLastServer(folder, server);
  if (ReadLastServer(folder) != server) std::abort();
  return 0;
}
