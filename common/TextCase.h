// Letter case of code page 936 texts: only the single-byte letters A to Z
// change case; the trail byte of a double-byte character stays as it is even
// where it falls in the letter range.
#pragma once
#include <string>

std::string UpperCaseAscii(const std::string& text);
bool SameTextIgnoringCase(const std::string& a, const std::string& b);
