// The integer layer of profile access, shared by every platform.
#include "platform/Profile.h"

#include <cstdint>

bool TryParseInt(const std::string& text, int& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    magnitude = magnitude * base + digit;
    // Hexadecimal may name the full 32-bit pattern ($FFFFFFFF is -1).
    if (magnitude > (base == 16 ? 0xFFFFFFFFull : 0x80000000ull)) return false;
  }
  if (base == 10 && !negative && magnitude > 0x7FFFFFFFull) return false;
  const uint32_t bits = static_cast<uint32_t>(magnitude);
  value = static_cast<int>(negative ? 0u - bits : bits);
  return true;
}

int ReadIniInt(const std::string& path, const std::string& section, const std::string& key,
                   int defaultValue) {
  int value;
  return TryParseInt(ReadIniString(path, section, key, ""), value) ? value : defaultValue;
}

void WriteIniInt(const std::string& path, const std::string& section, const std::string& key,
                     int value) {
  WriteIniString(path, section, key, std::to_string(value));
}
