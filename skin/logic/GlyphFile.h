// Where a glyph file named by a control's file property is found.
#pragma once
#include <optional>
#include <string>

// `fileName` itself when that file exists, else `programFolder` (with its
// trailing separator) joined with `fileName` when that exists, else nothing.
std::optional<std::string> FindGlyphFile(const std::string& fileName, const std::string& programFolder);
// The same beside the running program.
std::optional<std::string> FindGlyphFile(const std::string& fileName);
