// Helpers of the UDP tests: this build's loopback ports, a plain UDP socket
// to play the other side, and waiting for a condition.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Socket.h"
#include "platform/Tick.h"

// First loopback port of this build's peers (LAUNCHER_TEST_PORT_BASE).
inline uint16_t TestPortBase() {
  const char* text = std::getenv("LAUNCHER_TEST_PORT_BASE");
  return static_cast<uint16_t>(text != nullptr ? std::atoi(text) : 27000);
}

// Polls `done` every 5 ms for up to `timeoutMs`.
inline bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs = 3000) {
  const uint32_t start = GetTickCount32();
  while (!done()) {
    if (GetTickCount32() - start > timeoutMs) return false;
    SleepMs(5);
  }
  return true;
}

// A UDP socket bound to a loopback address (port 0: any free port).
class TUdpPeer {
public:
  explicit TUdpPeer(uint16_t port = 0, const char* address = "127.0.0.1") {
    FSocket = SocketCreateUdp();
    TSocketAddress local{LoopbackAddress(), port};
    ParseIPv4(address, local.Address);
    FBound = FSocket != InvalidSocket && SocketBind(FSocket, local) == 0 && SocketLocalAddress(FSocket, local) == 0;
    FPort = local.Port;
  }
  ~TUdpPeer() {
    if (FSocket != InvalidSocket) SocketClose(FSocket);
  }
  TUdpPeer(const TUdpPeer&) = delete;
  TUdpPeer& operator=(const TUdpPeer&) = delete;

  bool Bound() const { return FBound; }
  uint16_t Port() const { return FPort; }
  // One datagram, or an empty vector when none came within `timeoutMs`.
  std::vector<uint8_t> Receive(int timeoutMs, TSocketAddress* from = nullptr) {
    std::vector<uint8_t> datagram(70000);
    if (SocketWaitReadable(FSocket, timeoutMs) != 1) return {};
    TSocketAddress sender;
    const int length = SocketRecvFrom(FSocket, datagram.data(), static_cast<int>(datagram.size()), &sender);
    if (length < 0) return {};
    if (from != nullptr) *from = sender;
    datagram.resize(static_cast<size_t>(length));
    return datagram;
  }
  bool SendTo(const std::vector<uint8_t>& datagram, uint16_t port) {
    const TSocketAddress to{LoopbackAddress(), port};
    return SocketSendTo(FSocket, datagram.data(), static_cast<int>(datagram.size()), to) ==
           static_cast<int>(datagram.size());
  }

private:
  TSocketHandle FSocket = InvalidSocket;
  bool FBound = false;
  uint16_t FPort = 0;
};

// The command that runs an operator tool of this build: the native program,
// or in a Windows build the .exe under the Z: drive that maps the Unix root.
// Empty when the tool cannot be found.
inline std::string ToolCommand(const std::string& name) {
  const char* tools = std::getenv("LAUNCHER_TEST_TOOLS");
  if (tools == nullptr) return std::string();
  const std::string path = std::string(tools) + "/" + name + "/" + name;
  std::string windowsPath = "Z:" + path + ".exe";
  for (char& c : windowsPath)
    if (c == '/') c = '\\';
  for (const std::string& candidate : {path, windowsPath})
    if (FileExists(candidate)) return "\"" + candidate + "\"";
  return std::string();
}
