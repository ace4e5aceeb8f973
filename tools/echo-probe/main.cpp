// echo-probe: sends 8-byte echo probes (send time, key) to a UDP echo
// service and prints what comes back with its round-trip time. The
// launcher's own echo service never answers; it turns each probe into a
// round-trip time for the server record the key names.
//
//   echo-probe --to HOST:PORT --key K [--count N] [--interval MS]
//              [--time T] [--wait MS]
//   K and T are decimal or 0x-hexadecimal; T is the send time written into
//   the probes (default: this program's millisecond counter).
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "net/uUDPEcho.h"
#include "platform/MsCounter.h"
#include "platform/Socket.h"
#include "platform/Tick.h"

namespace {

struct TArguments {
  TSocketAddress to;
  uint32_t key = 0;
  bool haveKey = false;
  uint32_t count = 1;
  uint32_t intervalMs = 100;
  bool fixedTime = false;
  uint32_t time = 0;
  uint32_t waitMs = 1000;
};

bool ParseUnsigned(const std::string& text, uint32_t& value) {
  if (text.empty()) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > (hex ? 8u : 10u) ||
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
    return false;
  const unsigned long long parsed = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (parsed > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

bool ParseTarget(const std::string& text, TSocketAddress& to) {
  const size_t colon = text.rfind(':');
  uint32_t port = 0;
  if (colon == std::string::npos || !ParseUnsigned(text.substr(colon + 1), port) || port == 0 || port > 65535) return false;
  const std::string host = text.substr(0, colon);
  to.Port = static_cast<uint16_t>(port);
  if (ParseIPv4(host, to.Address)) return true;
  std::vector<uint32_t> addresses;
  if (!ResolveIPv4(host, addresses) || addresses.empty()) return false;
  to.Address = addresses[0];
  return true;
}

bool ParseArguments(int argc, char** argv, TArguments& args) {
  bool haveTarget = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--to") {
      haveTarget = ParseTarget(value, args.to);
      if (!haveTarget) return false;
    } else if (name == "--key") {
      args.haveKey = ParseUnsigned(value, args.key);
      if (!args.haveKey) return false;
    } else if (name == "--count") {
      if (!ParseUnsigned(value, args.count)) return false;
    } else if (name == "--interval") {
      if (!ParseUnsigned(value, args.intervalMs)) return false;
    } else if (name == "--time") {
      if (!ParseUnsigned(value, args.time)) return false;
      args.fixedTime = true;
    } else if (name == "--wait") {
      if (!ParseUnsigned(value, args.waitMs)) return false;
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && haveTarget && args.haveKey;
}

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Prints every probe-sized datagram that arrives within `waitMs`.
uint32_t CollectReplies(TSocketHandle socket, uint32_t waitMs) {
  uint32_t replies = 0;
  const uint32_t start = GetTickCount32();
  uint8_t buffer[EchoReceiveSize];
  for (;;) {
    const uint32_t spent = GetTickCount32() - start;
    if (spent >= waitMs || SocketWaitReadable(socket, static_cast<int>(waitMs - spent)) != 1) return replies;
    TSocketAddress from;
    if (SocketRecvFrom(socket, buffer, sizeof(buffer), &from) != EchoProbeSize) continue;
    ++replies;
    std::cout << "reply from " << SocketAddressText(from) << " key=" << ReadLe32(buffer + 4)
              << " rtt=" << static_cast<int32_t>(MsCounter() - ReadLe32(buffer)) << " ms" << std::endl;
  }
}

}  // namespace

int main(int argc, char** argv) {
  TArguments args;
  if (!ParseArguments(argc, argv, args)) {
    std::cerr << "usage: echo-probe --to HOST:PORT --key K [--count N] [--interval MS] [--time T] [--wait MS]\n";
    return 2;
  }
  const TSocketHandle socket = SocketCreateUdp();
  if (socket == InvalidSocket) {
    std::cerr << "echo-probe: " << SocketErrorMessage(SocketLastError()) << "\n";
    return 1;
  }
  uint32_t sent = 0;
  for (uint32_t i = 0; i < args.count; ++i) {
    if (i > 0) SleepMs(args.intervalMs);
    const uint32_t sendTime = args.fixedTime ? args.time : MsCounter();
    uint8_t probe[EchoProbeSize];
    BuildEchoProbe(sendTime, args.key, probe);
    if (SocketSendTo(socket, probe, EchoProbeSize, args.to) != EchoProbeSize) {
      std::cerr << "echo-probe: send failed: " << SocketErrorMessage(SocketLastError()) << "\n";
      continue;
    }
    ++sent;
    std::cout << "probe to " << SocketAddressText(args.to) << " key=" << args.key << " time=" << sendTime << std::endl;
  }
  const uint32_t replies = args.waitMs > 0 ? CollectReplies(socket, args.waitMs) : 0;
  std::cout << "probes sent " << sent << ", replies " << replies << std::endl;
  SocketClose(socket);
  return sent == args.count ? 0 : 1;
}
