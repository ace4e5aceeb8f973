// Code page 936 through iconv. Invalid sequences are replaced one byte (or
// one code unit) at a time so a damaged text still converts.
#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <stdexcept>

namespace {

class TConverter {
public:
  TConverter(const char* to, const char* from) : FHandle(iconv_open(to, from)) {
    if (FHandle == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~TConverter() { iconv_close(FHandle); }

  // `unitSize` is the input code unit size, used to skip an invalid unit.
  std::string Convert(const std::string& input, size_t unitSize, const std::string& replacement) {
    std::lock_guard<std::mutex> guard(FLock);
    std::string output;
    char buffer[4096];
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
      char* out = buffer;
      size_t outLeft = sizeof buffer;
      const size_t result = iconv(FHandle, &in, &inLeft, &out, &outLeft);
      output.append(buffer, out - buffer);
      if (result != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a sequence cut at the end): replace one unit and go on.
      const size_t skip = inLeft < unitSize ? inLeft : unitSize;
      in += skip;
      inLeft -= skip;
      output += replacement;
      iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    }
    return output;
  }

private:
  iconv_t FHandle;
  std::mutex FLock;
};

const std::string Utf16Replacement("\xFD\xFF", 2);  // U+FFFD, little-endian

TConverter& GbkToUtf16() { static TConverter c("UTF-16LE", "CP936"); return c; }
TConverter& Utf16ToGbk() { static TConverter c("CP936", "UTF-16LE"); return c; }
TConverter& GbkToUtf8() { static TConverter c("UTF-8", "CP936"); return c; }
TConverter& Utf8ToGbk() { static TConverter c("CP936", "UTF-8"); return c; }

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

std::u16string Cp936ToUtf16(const std::string& text) {
  const std::string bytes = GbkToUtf16().Convert(text, 1, Utf16Replacement);
  std::u16string result(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < result.size(); ++i)
    result[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return result;
}

std::string Utf16ToCp936(const std::u16string& text) {
  std::string bytes(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return Utf16ToGbk().Convert(bytes, 2, "?");
}

std::string Cp936ToUtf8(const std::string& text) {
  if (IsAscii(text)) return text;
  return GbkToUtf8().Convert(text, 1, "\xEF\xBF\xBD");
}

std::string Utf8ToCp936(const std::string& text) {
  if (IsAscii(text)) return text;
  return Utf8ToGbk().Convert(text, 1, "?");
}
