// The detached signature of a release document ("update.json.sig" beside
// "update.json") and the public key text that a package carries.
//
// A signature file is exactly six lines, each ended by LF:
//   launcher-signature 1
//   document update.json
//   version 1733580000
//   expires 1736172000
//   sha256 <64 lowercase hexadecimal digits>
//   signature <base64 of the 64-byte r||s>
// The signature is ECDSA P-256 over SHA-256 of the first five lines. Parsing
// is strict, so that a parsed file formats back to the very same bytes and
// the signed text is exactly what the signer signed.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t MaxSignatureFileSize = 4096;

using TSha256 = std::array<uint8_t, 32>;
using TPublicKey = std::array<uint8_t, 65>;      // uncompressed SEC1 point 0x04 || X || Y
using TRawSignature = std::array<uint8_t, 64>;   // r || s, each 32 bytes big-endian

struct TReleaseSignature {
  std::string document;  // the document's name relative to its base address
  uint64_t version = 0;  // release version; only grows
  int64_t expires = 0;   // Unix time in seconds (UTC)
  TSha256 documentSha256{};
  TRawSignature signature{};
};

// The five lines that the signature covers, each ended by LF.
std::string SignedText(const TReleaseSignature& sig);
// The whole file: the signed text and the "signature" line.
std::string FormatSignatureFile(const TReleaseSignature& sig);
// False for anything that FormatSignatureFile would not have written, and for
// a text longer than MaxSignatureFileSize.
bool ParseSignatureFile(std::string_view text, TReleaseSignature& out);

// "p256:" followed by the base64 of the 65-byte point (one line, no blanks).
bool ParsePublicKeyText(std::string_view text, TPublicKey& key);
std::string FormatPublicKeyText(const TPublicKey& key);
