// Path pieces of code page 936 paths. Both separators are accepted; the
// search for them steps over double-byte characters, whose trail byte may be
// 0x5C ("\").
#pragma once
#include <string>

// Index of the last "\" or "/" that is a character of its own, or npos.
size_t LastSeparator(const std::string& path);
// Whether the last character of `path` is "\" or "/" (not the trail byte
// of a double-byte character).
bool EndsWithSeparator(const std::string& path);
// `folder` with a separator at its end: "\" is added unless one is there.
std::string WithSeparator(const std::string& folder);
// Directory with its trailing separator ("C:\Game\" for "C:\Game\launcher.exe").
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
// File name without directory and extension.
std::string ExtractBaseName(const std::string& path);

// The launcher folder (the program file's directory with its trailing
// separator) and the launcher base name of the running program.
std::string LauncherFolder();
std::string LauncherBaseName();

// Names Windows reads otherwise than the file system stores them. A path
// component whose name up to its first dot (blanks before that dot left
// out) is CON, PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9, in any letter
// case and with any extension, opens a device instead of a file; a
// component that ends in a dot or a blank ("..", "a.", "a ") is stored
// without them, under another file's name ("." is the folder itself).
// Releases must install the same everywhere, so such names are refused on
// every platform.
bool IsDeviceName(const std::string& component);
bool IsReservedComponent(const std::string& component);
// Whether any component of `path` (split at "\" and "/") is reserved.
bool HasReservedComponent(const std::string& path);

// `path` as a URL's path spells it: every "\" that is a character of its
// own becomes "/", a doubled one a single "/" (a double-byte character
// whose trail byte is "\" stays as it is).
std::string UrlSlashes(const std::string& path);

// The key under which Windows finds a file: letters A to Z in one case, "/"
// read as "\", empty and "." components left out. Two relative paths with
// the same key name the same file.
std::string WindowsPathKey(const std::string& path);
