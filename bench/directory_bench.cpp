// Requests per second that a directory service answers over loopback, in a
// closed loop (one request outstanding, the whole reply received before the
// next request), beside the same loop against a bare UDP echo thread of this
// program that answers with datagrams of the same sizes (the ceiling) and
// one that echoes the 16-byte request alone.
//
//   directory_bench --port PORT [--game 12] [--seconds 5]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "platform/Tick.h"
#include "servers/DirectoryFrame.h"

namespace {

struct TResult {
  double perSecond = 0;
  size_t replyBytes = 0;
  int lost = 0;
};

// Sends a request, then reads datagrams until `replyBytes` arrived (learned
// from the first reply when 0). A reply not complete within 500 ms counts as lost.
TResult ClosedLoop(uint16_t port, uint32_t game, uint32_t seconds, size_t replyBytes) {
  TResult result;
  const TSocketHandle socket = SocketCreateUdp();
  SocketSetReceiveBufferSize(socket, 1 << 20);
  const TSocketAddress to{LoopbackAddress(), port};
  const std::vector<uint8_t> request = BuildServerListRequest(game, GetServerList);
  std::vector<uint8_t> buffer(65536);
  uint64_t done = 0;
  const uint32_t start = GetTickCount32();
  while (GetTickCount32() - start < seconds * 1000) {
    SocketSendTo(socket, request.data(), static_cast<int>(request.size()), to);
    size_t got = 0;
    while (replyBytes == 0 || got < replyBytes) {
      if (SocketWaitReadable(socket, 500) != 1) break;
      const int length = SocketRecvFrom(socket, buffer.data(), static_cast<int>(buffer.size()), nullptr);
      if (length <= 0) break;
      if (replyBytes == 0 && length >= 8) replyBytes = 8 + (buffer[6] | buffer[7] << 8);
      got += static_cast<size_t>(length);
    }
    if (replyBytes != 0 && got >= replyBytes) {
      ++done;
    } else {
      ++result.lost;
    }
  }
  result.perSecond = done * 1000.0 / (GetTickCount32() - start);
  result.replyBytes = replyBytes;
  SocketClose(socket);
  return result;
}

// A bare echo thread: answers every datagram with `reply` (or the datagram itself when empty).
class TEchoLoop {
public:
  explicit TEchoLoop(std::vector<std::vector<uint8_t>> reply) : FReply(std::move(reply)) {
    FSocket = SocketCreateUdp();
    TSocketAddress local{LoopbackAddress(), 0};
    SocketBind(FSocket, local);
    SocketLocalAddress(FSocket, local);
    FPort = local.Port;
    FThread = std::thread([this] { Run(); });
  }
  ~TEchoLoop() {
    FStop = true;
    FThread.join();
    SocketClose(FSocket);
  }
  uint16_t Port() const { return FPort; }

private:
  void Run() {
    std::vector<uint8_t> buffer(65536);
    while (!FStop) {
      if (SocketWaitReadable(FSocket, 100) != 1) continue;
      TSocketAddress from;
      const int length = SocketRecvFrom(FSocket, buffer.data(), static_cast<int>(buffer.size()), &from);
      if (length <= 0) continue;
      if (FReply.empty()) {
        SocketSendTo(FSocket, buffer.data(), length, from);
      } else {
        for (const auto& datagram : FReply) SocketSendTo(FSocket, datagram.data(), static_cast<int>(datagram.size()), from);
      }
    }
  }
  std::vector<std::vector<uint8_t>> FReply;
  TSocketHandle FSocket;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace

int main(int argc, char** argv) {
  uint16_t port = 0;
  uint32_t game = 12, seconds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const unsigned long value = std::strtoul(argv[i + 1], nullptr, 10);
    if (name == "--port") port = static_cast<uint16_t>(value);
    if (name == "--game") game = static_cast<uint32_t>(value);
    if (name == "--seconds") seconds = static_cast<uint32_t>(value);
  }
  if (port == 0) {
    std::fprintf(stderr, "usage: directory_bench --port PORT [--game 12] [--seconds 5]\n");
    return 2;
  }
  const TResult service = ClosedLoop(port, game, seconds, 0);
  if (service.replyBytes == 0) {
    std::fprintf(stderr, "directory_bench: no reply from 127.0.0.1:%u\n", port);
    return 1;
  }
  // The ceiling answers with datagrams of the very sizes the service sent.
  std::vector<std::vector<uint8_t>> sameSizes;
  for (size_t left = service.replyBytes; left > 0;) {
    const size_t piece = left < MaxDirectoryDatagram ? left : MaxDirectoryDatagram;
    sameSizes.emplace_back(piece, 0x5A);
    left -= piece;
  }
  TResult ceiling, bare;
  {
    TEchoLoop echo(sameSizes);
    ceiling = ClosedLoop(echo.Port(), game, seconds, service.replyBytes);
  }
  {
    TEchoLoop echo({});
    bare = ClosedLoop(echo.Port(), game, seconds, DirectoryRequestSize);
  }
  std::printf("reply frame: %zu bytes in %zu datagrams\n", service.replyBytes, sameSizes.size());
  std::printf("directory service:            %9.0f requests/s (lost %d)\n", service.perSecond, service.lost);
  std::printf("echo loop, same reply sizes:  %9.0f requests/s (lost %d)\n", ceiling.perSecond, ceiling.lost);
  std::printf("echo loop, 16-byte echo:      %9.0f requests/s (lost %d)\n", bare.perSecond, bare.lost);
  std::printf("ratio service / same-size echo: %.3f\n", service.perSecond / ceiling.perSecond);
  return 0;
}
