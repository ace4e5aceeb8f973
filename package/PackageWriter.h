// Builds the package that the reader expects, for appending to a launcher
// executable of `exeSize` bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TPackageContent {
  std::string configText;                  // fields separated by blanks
  std::vector<std::string> images;         // PNG files in skin block order
  std::vector<int16_t> positions;          // the entries of the positions block
};

// The configuration text padded with spaces to its block size (at least the
// shipped 272 bytes).
std::string PadConfigText(const std::string& text);
// Joins fields with one blank, quoting a field that the delimited-text rule
// would otherwise split or unquote.
std::string JoinConfigFields(const std::vector<std::string>& fields);

std::string BuildPackage(const TPackageContent& content, int64_t exeSize);
