// Launcher paths are code page 936 with either separator; the file system
// here takes UTF-8 with "/". The conversion happens before the separators are
// replaced, so a trail byte 0x5C inside a double-byte character stays intact.
#pragma once
#include <string>

std::string NativePath(const std::string& path);
std::string ErrnoText(int error);
