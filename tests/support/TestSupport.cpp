#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

#include "platform/CodePage.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"

namespace fs = std::filesystem;

TTempFolder::TTempFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  const std::u16string wide = base.u16string();
  std::string name = Utf16ToCp936(wide);
  if (!name.empty() && name.back() != '/' && name.back() != '\\') name += '/';
  name += "launcher-test-" + std::to_string(random()) + "-" + std::to_string(counter++);
  ForceDirectories(name);
  FPath = name + "/";
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  fs::remove_all(fs::path(Cp936ToUtf16(FPath)), ignored);
}

TLogCapture::TLogCapture() {
  SetDebugOutputObserver([this](const std::string& line) {
    std::lock_guard<std::mutex> guard(FLock);
    FLines.push_back(line);
  });
}

TLogCapture::~TLogCapture() { SetDebugOutputObserver({}); }

std::vector<std::string> TLogCapture::Lines() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLines;
}

bool TLogCapture::Contains(const std::string& line) const {
  const std::vector<std::string> lines = Lines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int TLogCapture::CountContaining(const std::string& part) const {
  const std::vector<std::string> lines = Lines();
  const auto holds = [&](const std::string& line) { return line.find(part) != std::string::npos; };
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), holds));
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  TFileStream file(path, TFileMode::CreateTruncate);
  file.WriteBuffer(bytes.data(), bytes.size());
}

std::string ReadWholeFile(const std::string& path) {
  TFileStream file(path, TFileMode::ReadShared);
  std::string bytes(static_cast<size_t>(file.Size()), '\0');
  file.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

TServed ServedSince(const std::string& logPath, size_t offset, const std::string& prefix) {
  const std::string log = ReadWholeFile(logPath);
  std::istringstream lines(log.substr(std::min(offset, log.size())));
  std::set<std::string> connections;
  TServed served;
  for (std::string line; std::getline(lines, line);) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos || line.compare(blank + 1, prefix.size(), prefix) != 0) continue;
    ++served.requests;
    if (line.size() > 2 && line.compare(line.size() - 2, 2, " p") == 0) ++served.pipelined;
    connections.insert(line.substr(0, blank));
  }
  served.connections = static_cast<int>(connections.size());
  return served;
}
