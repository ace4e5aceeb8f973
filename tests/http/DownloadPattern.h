// The content of the download test files served by tests/peers/downloads.peer:
// block k (65536 bytes) holds byte j = (31 j + (j >> 8) + 7 k) mod 256.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Md5.h"

inline std::string PatternBytes(int64_t offset, size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) {
    const int64_t at = offset + static_cast<int64_t>(i);
    const int64_t j = at % 65536, k = at / 65536;
    bytes[i] = static_cast<char>((31 * j + (j >> 8) + 7 * k) & 0xFF);
  }
  return bytes;
}

inline std::string PatternMd5(int64_t size) {
  TMd5 md5;
  for (int64_t at = 0; at < size; at += 1 << 20) {
    const std::string piece = PatternBytes(at, static_cast<size_t>(std::min<int64_t>(1 << 20, size - at)));
    md5.Update(piece.data(), piece.size());
  }
  return md5.FinalHex();
}

// Base URL of the download peer of this build.
inline std::string DownloadPeerUrl() {
  const char* base = std::getenv("LAUNCHER_TEST_PORT_BASE");
  return "http://127.0.0.1:" + std::to_string((base ? std::atoi(base) : 21000) + 3);
}

// Base URL of the fault server of this build.
inline std::string FaultServerUrl() {
  const char* base = std::getenv("LAUNCHER_TEST_PORT_BASE");
  return "http://127.0.0.1:" + std::to_string((base ? std::atoi(base) : 21000) + 1);
}
