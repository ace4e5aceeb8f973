#include "ui/logic/WebLinks.h"

#include "common/Md5.h"

namespace {

constexpr const char* NullAdapterAddress = "00-00-00-00-00-00";
// The fixed texts around the MAC text in the checksum key.
constexpr const char* CrcKeyHead = "7391";
constexpr const char* CrcKeyTail = "0839";

}  // namespace

std::string FormatAdapterAddress(const uint8_t* address, size_t length) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    if (i > 0) text += '-';
    text += Digits[address[i] >> 4];
    text += Digits[address[i] & 0x0F];
  }
  return text;
}

std::string ChooseMacText(const std::function<std::string(int)>& adapterMac) {
  std::string mac;
  for (int n = 0; n < 4; ++n) {
    mac = adapterMac(n);
    if (mac.find(NullAdapterAddress) == std::string::npos) break;
  }
  return mac;
}

std::string MachineCrc(const std::string& macText) {
  return MD5OfMemory(std::string(CrcKeyHead) + macText + CrcKeyTail);
}

std::string DecorateUrl(const std::string& url, const std::string& crc) {
  return url + (url.find('?') != std::string::npos ? "&crc=" : "?crc=") + crc;
}

bool IsWebLink(const std::string& url) {
  const size_t colon = url.find(':');
  if (colon == std::string::npos) return false;
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return scheme == "http" || scheme == "https";
}

bool IsCloseRequest(const std::string& url) {
  std::string lower = url;
  // "#close" is ASCII, so a byte-wise lower case cannot make it up out of a
  // double-byte character.
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return lower.find("#close") != std::string::npos;
}

std::string WebPageArguments(const std::string& registryPageUrl) { return "/web:" + registryPageUrl; }
