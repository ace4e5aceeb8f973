// Launcher texts are code page 936 whatever the system's ANSI code page is;
// the wide system calls get them converted here.
#pragma once
#include <string>

// A path for the wide file functions. A long one (ExtendedLengthFrom on)
// is made full and given the extended-length form, which passes the
// 260-character limit of plain paths.
std::wstring WidePath(const std::string& path);
// Any other text for a wide function.
std::wstring WideText(const std::string& text);
std::string WinErrorText(unsigned long error);
