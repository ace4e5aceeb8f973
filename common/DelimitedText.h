// The launcher's delimited-text rule: fields separated by a delimiter and by
// runs of characters 1 to 32, double-quoted fields with "" for a quote, and
// code page 936 awareness (the trail byte of a double-byte character is never
// a delimiter or a separator).
#pragma once
#include <string>
#include <vector>

std::vector<std::string> SplitDelimited(const std::string& text, char delimiter);

// Index of the character after the one at `index`, stepping over a whole
// double-byte character of code page 936.
size_t NextCharIndex(const std::string& text, size_t index);
