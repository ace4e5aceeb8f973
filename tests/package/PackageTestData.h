// Builds launcher executables with packages for the package tests.
#pragma once
#include <string>
#include <vector>

#include "package/PackageFormat.h"
#include "package/PackageWriter.h"

// Stands for the program image in front of the package.
inline std::string FakeExecutable() { return "MZ" + std::string(998, '\x90'); }

inline std::vector<std::string> ThirteenFields() {
  return {"1", "0", "1", "12", "\xC6\xF4\xB6\xAF\xC6\xF7",  // "启动器"
          "http://patch.example/client/", "http://patch.example/launcher/", "http://www.example.com/home",
          "http://reg.example/", "http://bbs.example/", "http://pay.example/p", "http://news.example/",
          "http://forget.example/"};
}

// A public key text: the P-256 base point, a valid point of the curve.
inline const char* SampleKeyText() {
  return "p256:BGsX0fLhLEJH+Lzm5WOkQPJ3A32BLeszoPShOUXYmMKWT+NC4v4af5uO5+tKfA+eFivOM1drMV7Oy7ZAaDe/UfU=";
}

inline TPackageContent SampleContent(std::vector<std::string> fields = ThirteenFields()) {
  TPackageContent content;
  content.configText = JoinConfigFields(fields);
  content.images = {"\x89PNG-background", "\x89PNG-second", "\x89PNG-third"};
  for (int i = 0; i < PositionEntryCount; ++i) content.positions.push_back(static_cast<int16_t>(i * 10 - 100));
  return content;
}

// The package bytes with one trailer descriptor (0 url, 1 res, 2 pos) replaced.
inline std::string WithDescriptor(std::string exe, int which, int32_t offset, int32_t size) {
  const size_t at = exe.size() - TrailerAndMagicSize + static_cast<size_t>(which) * DescriptorSize;
  for (int i = 0; i < 4; ++i) {
    exe[at + i] = static_cast<char>((static_cast<uint32_t>(offset) >> (8 * i)) & 0xFF);
    exe[at + 4 + i] = static_cast<char>((static_cast<uint32_t>(size) >> (8 * i)) & 0xFF);
  }
  return exe;
}
