// INI (profile) files: one value per call (the names avoid the Windows
// header macros WriteProfileString and friends), the file opened and closed each
// time, nothing cached. Windows uses the system's profile functions; other
// platforms use a stand-in with the same rules (case-insensitive sections and
// keys, values trimmed, the first match wins).
#pragma once
#include <stdexcept>
#include <string>

class EIniFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

std::string ReadIniString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue);
// Throws EIniFileError("Unable to write to <path>") when the file cannot be written.
void WriteIniString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value);
// Removes a whole section; missing file or section is not an error.
void EraseIniSection(const std::string& path, const std::string& section);

// Integer values: decimal, or hexadecimal with "$" or "0x"; anything else
// (or a missing key) reads as the default.
int ReadIniInt(const std::string& path, const std::string& section,
                   const std::string& key, int defaultValue);
void WriteIniInt(const std::string& path, const std::string& section,
                     const std::string& key, int value);
// The integer rule on its own: true and the value when `text` is an integer.
bool TryParseInt(const std::string& text, int& value);
