// Letter case of code page 936 texts: only the single-byte letters A to Z
// change case; the trail byte of a double-byte character stays as it is even
// where it falls in the letter range. Header names, digests and file names
// all go through these.
#pragma once
#include <string>

std::string UpperCase(std::string text);
bool SameText(const std::string& a, const std::string& b);
