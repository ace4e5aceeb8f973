// The pixel size of a PNG file, taken from its header chunk (IHDR) without
// decoding the image.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

struct TPngSize {
  uint32_t width = 0;
  uint32_t height = 0;
};

// The size from the signature and the IHDR chunk that must follow it (length
// 13, checksum intact, width and height not 0). Nothing for anything else.
std::optional<TPngSize> ReadPngSize(const void* data, size_t length);
inline std::optional<TPngSize> ReadPngSize(const std::string& bytes) { return ReadPngSize(bytes.data(), bytes.size()); }
