// printf-style formatting into a std::string, for the launcher's fixed log
// and message texts ("flag is %d", "Url Error hash=%s, RealHash=%s", ...).
#pragma once
#include <string>

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* format, ...);
