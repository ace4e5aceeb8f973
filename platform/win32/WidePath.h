// Launcher texts are code page 936 whatever the system's ANSI code page is;
// the wide system calls get them converted here.
#pragma once
#include <string>

std::wstring WidePath(const std::string& path);
std::string WinErrorText(unsigned long error);
