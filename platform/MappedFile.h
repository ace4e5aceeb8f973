// Read-only file mapping, consumed through views of at most 4 MiB so that a
// large file never occupies more than one view of address space.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

constexpr size_t MaxMappedView = 0x400000;

class TMappedFile {
public:
  TMappedFile();
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  // False when the file cannot be opened or mapped; an empty file cannot be mapped.
  bool Open(const std::string& path);
  int64_t Size() const { return FSize; }
  // Maps [offset, offset + length) with length <= MaxMappedView, replacing the
  // previous view. Returns nullptr on failure.
  const uint8_t* MapView(int64_t offset, size_t length);

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  int64_t FSize = 0;
};
