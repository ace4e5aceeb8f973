// The private key file's creation: exclusive, owner-only from the first byte.
#pragma once
#include <string>
#include <string_view>

// Creates `path` (code page 936) with mode 0600 and writes `bytes`; false
// with an error text when it exists or cannot be written (a partly written
// file is removed).
bool CreatePrivateFile(const std::string& path, std::string_view bytes, std::string& error);
