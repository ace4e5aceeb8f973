#include "signing/TextCodec.h"

#include "http/cSendUtils.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string HexLower(const uint8_t* data, size_t size) {
  static const char Digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += Digits[data[i] >> 4];
    out += Digits[data[i] & 15];
  }
  return out;
}

bool DecodeHexLower(std::string_view text, uint8_t* out, size_t size) {
  if (text.size() != size * 2) return false;
  for (size_t i = 0; i < size; ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

std::string Base64Of(const uint8_t* data, size_t size) {
  return Base64Encode(std::string(reinterpret_cast<const char*>(data), size));
}

bool DecodeBase64Exact(std::string_view text, uint8_t* out, size_t size) {
  if (text.size() != (size + 2) / 3 * 4) return false;
  // Decode the data characters, then let the encoder decide: only the text
  // it would write for these bytes is accepted, which rules out misplaced
  // padding and non-zero unused bits in one comparison.
  size_t written = 0;
  uint32_t bits = 0;
  int bitCount = 0;
  for (const char c : text) {
    if (c == '=') break;
    const int value = Base64Value(c);
    if (value < 0) return false;
    bits = (bits << 6 | static_cast<uint32_t>(value)) & 0xFFFFFF;
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      if (written == size) return false;
      out[written++] = static_cast<uint8_t>(bits >> bitCount);
    }
  }
  return written == size && Base64Of(out, size) == text;
}

bool ParseCanonicalDecimal(std::string_view text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  uint64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (result > (max - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}
