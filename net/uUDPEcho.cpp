#include "net/uUDPEcho.h"

#include <memory>

#include "platform/MsCounter.h"

namespace {

// The receive waits in slices so that a stop request is seen even where
// shutting the socket down does not wake a blocked receive.
constexpr int ReceiveSliceMs = 100;

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void WriteLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void BuildEchoProbe(uint32_t sendTime, uint32_t key, uint8_t probe[EchoProbeSize]) {
  WriteLe32(probe, sendTime);
  WriteLe32(probe + 4, key);
}

TUDPEchoServer::TUDPEchoServer(uint16_t port) : FPort(port) { Start(); }

TUDPEchoServer::~TUDPEchoServer() {
  TerminateAndWait();
  const TSocketHandle socket = FSocket.exchange(InvalidSocket);
  if (socket != InvalidSocket) SocketClose(socket);
}

void TUDPEchoServer::TerminatedSet() {
  const TSocketHandle socket = FSocket.load();
  if (socket != InvalidSocket) SocketShutdown(socket);
  FWake.SetEvent();
}

void TUDPEchoServer::SetOnEcho(TEchoCallback callback, const void* target) {
  std::lock_guard<std::mutex> guard(FEchoLock);
  FOnEcho = std::move(callback);
  FOnEchoTarget = target;
}

void TUDPEchoServer::ReleaseOnEcho(const void* target) {
  std::lock_guard<std::mutex> guard(FEchoLock);
  if (FOnEchoTarget != target) return;
  FOnEcho = nullptr;
  FOnEchoTarget = nullptr;
}

bool TUDPEchoServer::OpenSocket() {
  const TSocketHandle socket = SocketCreateUdp();
  if (socket == InvalidSocket) return false;
  TSocketAddress local{AnyAddress, static_cast<uint16_t>(FPort.load())};
  if (SocketBind(socket, local) != 0 || SocketLocalAddress(socket, local) != 0) {
    SocketClose(socket);
    return false;
  }
  FPort = local.Port;
  FSocket = socket;
  return true;
}

void TUDPEchoServer::ReceiveOne(uint8_t* buffer) {
  const TSocketHandle socket = FSocket.load();
  if (SocketWaitReadable(socket, ReceiveSliceMs) != 1 || Terminated()) return;
  TSocketAddress from;
  const int length = SocketRecvFrom(socket, buffer, EchoReceiveSize, &from);
  if (Terminated() || length != EchoProbeSize) return;
  const int32_t rtt = static_cast<int32_t>(MsCounter() - ReadLe32(buffer));
  const int32_t key = static_cast<int32_t>(ReadLe32(buffer + 4));
  std::lock_guard<std::mutex> guard(FEchoLock);
  if (FOnEcho) FOnEcho(IPv4Text(from.Address), rtt, key);
}

void TUDPEchoServer::Execute() {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[EchoReceiveSize]);
  while (!Terminated()) {
    if (FSocket.load() != InvalidSocket) {
      ReceiveOne(buffer.get());
    } else if (!OpenSocket()) {
      FWake.WaitFor(EchoRetryMs);
    }
  }
}
