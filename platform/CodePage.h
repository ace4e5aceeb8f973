// Code page 936 (GBK), the launcher's text encoding, to and from UTF-16 and
// UTF-8. Bytes that do not convert become U+FFFD (towards Unicode) or "?"
// (towards code page 936); the conversions never fail.
#pragma once
#include <string>

std::u16string Cp936ToUtf16(const std::string& text);
std::string Utf16ToCp936(const std::u16string& text);
std::string Cp936ToUtf8(const std::string& text);
std::string Utf8ToCp936(const std::string& text);

// True when `index` is the lead byte of a double-byte character of code page 936.
inline bool IsCp936LeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
