// A folder of its own for a fuzz target's files, made once per process
// under $TMPDIR (or /tmp) and removed with everything in it at exit.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

inline const std::string& FuzzTempFolder() {
  // Never destroyed: the exit handler that removes the folder still needs it.
  static const std::string* const folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/launcher-fuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(FuzzTempFolder(), ignored);
    });
    return new std::string(pattern + "/");
  }();
  return *folder;
}
