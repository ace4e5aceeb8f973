// The strict text forms of the signature file's binary fields: lowercase
// hexadecimal and padded base64, each of an exact length. A decoder accepts
// only the one text that the encoder writes for the decoded bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

std::string HexLower(const uint8_t* data, size_t size);
// False unless `text` is exactly 2 * size lowercase hexadecimal digits.
bool DecodeHexLower(std::string_view text, uint8_t* out, size_t size);

std::string Base64Of(const uint8_t* data, size_t size);
// False unless `text` is the padded base64 of exactly `size` bytes in its
// one canonical form (unused low bits zero, "=" padding only at the end).
bool DecodeBase64Exact(std::string_view text, uint8_t* out, size_t size);

// Unsigned decimal without sign or leading zero ("0" alone is fine), at most
// `max`; false otherwise.
bool ParseCanonicalDecimal(std::string_view text, uint64_t max, uint64_t& value);
