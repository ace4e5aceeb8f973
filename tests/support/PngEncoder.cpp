#include "support/PngEncoder.h"

#include <zlib.h>

#include <stdexcept>
#include <vector>

namespace {

void AppendBE32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

// Length, type, data and the CRC of type and data.
void AppendChunk(std::string& out, const char* type, const std::string& data) {
  AppendBE32(out, static_cast<uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  out += typed;
  AppendBE32(out, static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(typed.data()),
                                              static_cast<uInt>(typed.size()))));
}

std::string Deflate(const std::string& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<Bytef> buffer(size);
  if (compress(buffer.data(), &size, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size())) !=
      Z_OK)
    throw std::runtime_error("compress failed");
  return std::string(reinterpret_cast<const char*>(buffer.data()), size);
}

}  // namespace

std::string EncodeSolidPng(uint32_t width, uint32_t height, uint32_t rgba) {
  std::string header;
  AppendBE32(header, width);
  AppendBE32(header, height);
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace

  std::string row(1, '\0');  // filter type 0
  for (uint32_t x = 0; x < width; ++x) AppendBE32(row, rgba);
  std::string raw;
  raw.reserve(row.size() * height);
  for (uint32_t y = 0; y < height; ++y) raw += row;

  std::string png("\x89PNG\r\n\x1A\n", 8);
  AppendChunk(png, "IHDR", header);
  AppendChunk(png, "IDAT", Deflate(raw));
  AppendChunk(png, "IEND", "");
  return png;
}
