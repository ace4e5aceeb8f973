// Windows limits a plain path to 260 characters (folders to 248); a path in
// the extended-length form "\\?\C:\..." or "\\?\UNC\server\share\..." may be
// about 32,000 long, but the system then takes it literally: no "/" for
// "\", no "." or "..", no trailing dots or blanks dropped. The form is made
// here with those rules applied first, so it names the file the plain path
// names. Portable, for the tests; the Windows file layer uses it.
#pragma once
#include <string>

// True for "X:\..." (or "X:/"), "\\server\share..." and an extended-length
// or device path ("\\?\...", "\\.\...").
bool IsFullWindowsPath(const std::u16string& path);
// The extended-length form of a full path; a path already in that form
// only gets "\" for "/". Anything else comes back unchanged.
std::u16string ExtendedLengthPath(const std::u16string& path);
// How many characters of a full path are its root: "C:\", "\\?\C:\",
// "\\server\share\", "\\?\UNC\server\share\"; 0 for a relative path.
size_t WindowsRootLength(const std::u16string& path);
// Paths from this length on go to the system in the extended-length form
// (248: the limit of a folder, 12 below that of a file).
constexpr size_t ExtendedLengthFrom = 248;
