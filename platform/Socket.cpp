// The parts of the socket layer that need no operating system: address texts.
#include "platform/Socket.h"

#include <cstring>

namespace {

// Addresses in network byte order are the four bytes a.b.c.d in memory order.
uint32_t AddressFromBytes(const uint8_t bytes[4]) {
  uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

}  // namespace

uint32_t LoopbackAddress() {
  const uint8_t bytes[4] = {127, 0, 0, 1};
  return AddressFromBytes(bytes);
}

bool ParseIPv4(const std::string& text, uint32_t& address) {
  uint8_t bytes[4];
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    int value = 0, digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + (text[at] - '0');
      if (++digits > 3 || value > 255) return false;
      ++at;
    }
    if (digits == 0) return false;
    bytes[part] = static_cast<uint8_t>(value);
  }
  if (at != text.size()) return false;
  address = AddressFromBytes(bytes);
  return true;
}

std::string IPv4Text(uint32_t address) {
  uint8_t bytes[4];
  std::memcpy(bytes, &address, 4);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
         std::to_string(bytes[3]);
}

std::string SocketAddressText(const TSocketAddress& address) {
  return IPv4Text(address.Address) + ":" + std::to_string(address.Port);
}
