// Whole-file reads and writes for the package tool. Paths are code page 936
// like everywhere in the launcher's code; error texts are UTF-8 for the
// terminal.
#pragma once
#include <cstdint>
#include <string>

// Reads the whole file if it holds at most `limit` bytes.
bool ReadFileLimited(const std::string& path, int64_t limit, std::string& bytes, std::string& error);
// Writes `first` and `second` to a file beside `path` and renames it over
// `path`, so a failed run leaves no half-written file behind.
bool WriteFileReplacing(const std::string& path, const std::string& first, const std::string& second,
                        std::string& error);
// A path for messages.
std::string ShownPath(const std::string& path);
