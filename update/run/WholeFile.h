// Small documents the run keeps whole: its manifest copy and its log.
#pragma once
#include <string>

// Creates or truncates `path` and writes `bytes`; throws EFileError.
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Written beside the file and renamed over it: a full disk never leaves the
// previous copy cut short. Throws EFileError and leaves no temporary file.
void ReplaceFileBytes(const std::string& path, const std::string& bytes);
