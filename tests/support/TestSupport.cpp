#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>

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
