// The profile-file stand-in: the same rules as the Windows profile functions
// for the subset the launcher uses. Writes go to a temporary file that then
// replaces the original, so a failed write never leaves half a file.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/Profile.h"
#include "platform/posix/NativePath.h"

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = a[i], y = b[i];
    const unsigned char lx = (x >= 'A' && x <= 'Z') ? x + 32 : x;
    const unsigned char ly = (y >= 'A' && y <= 'Z') ? y + 32 : y;
    if (lx != ly) return false;
  }
  return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(NativePath(path), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& line, std::string& name) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

bool KeyOf(const std::string& line, std::string& key, std::string& value) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return true;
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  const std::string native = NativePath(path);
  const std::string temporary = native + ".tmp~";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << "\r\n";
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      throw EIniFileError("Unable to write to " + path);
    }
  }
  if (std::rename(temporary.c_str(), native.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw EIniFileError("Unable to write to " + path);
  }
}

}  // namespace

std::string ReadIniString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  bool inSection = false;
  for (const std::string& line : ReadLines(path)) {
    std::string name, k, v;
    if (SectionName(line, name)) {
      inSection = SameName(name, section);
    } else if (inSection && KeyOf(line, k, v) && SameName(k, key)) {
      // A value in matching quotes is read without them.
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return defaultValue;
}

void WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  std::vector<std::string> lines = ReadLines(path);
  const std::string entry = key + "=" + value;
  bool inSection = false;
  size_t sectionEnd = std::string::npos;  // index after the last entry of the section
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name, k, v;
    if (SectionName(lines[i], name)) {
      if (inSection) break;
      inSection = SameName(name, section);
      if (inSection) sectionEnd = i + 1;
    } else if (inSection) {
      if (KeyOf(lines[i], k, v) && SameName(k, key)) {
        lines[i] = entry;
        WriteLines(path, lines);
        return;
      }
      if (!Trim(lines[i]).empty()) sectionEnd = i + 1;
    }
  }
  if (sectionEnd != std::string::npos) {
    lines.insert(lines.begin() + static_cast<long>(sectionEnd), entry);
  } else {
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  }
  WriteLines(path, lines);
}

void EraseIniSection(const std::string& path, const std::string& section) {
  std::vector<std::string> lines = ReadLines(path);
  std::vector<std::string> kept;
  bool inSection = false, found = false;
  for (const std::string& line : lines) {
    std::string name;
    if (SectionName(line, name)) inSection = SameName(name, section);
    found = found || inSection;
    if (!inSection) kept.push_back(line);
  }
  if (found) WriteLines(path, kept);
}
