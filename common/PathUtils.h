// Path pieces of code page 936 paths. Both separators are accepted; the
// search for them steps over double-byte characters, whose trail byte may be
// 0x5C ("\").
#pragma once
#include <string>

// Index of the last "\" or "/" that is a character of its own, or npos.
size_t LastSeparator(const std::string& path);
// Directory with its trailing separator ("C:\Game\" for "C:\Game\launcher.exe").
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
// File name without directory and extension.
std::string ExtractBaseName(const std::string& path);

// The launcher folder (the program file's directory with its trailing
// separator) and the launcher base name of the running program.
std::string LauncherFolder();
std::string LauncherBaseName();
