// Sockets on Windows: Windows Sockets 2.2, started once for the process.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mutex>

#include "platform/DebugOutput.h"
#include "platform/SockaddrIn.h"
#include "platform/Socket.h"

namespace {

// WSAStartup on first use, WSACleanup at program end.
class TWinsock {
public:
  TWinsock() {
    WSADATA data;
    FStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~TWinsock() {
    // Nothing can be raised at program end; the failure is only written down.
    if (FStarted && WSACleanup() != 0) DebugOutput("WSACleanup Error.");
  }
  bool Started() const { return FStarted; }

private:
  bool FStarted = false;
};

void EnsureStarted() {
  static TWinsock winsock;
  if (!winsock.Started()) throw ESocketError("WSAStartup Error.");
}

SOCKET Raw(TSocketHandle socket) { return static_cast<SOCKET>(socket); }

int Check(int result) {
  if (result == SOCKET_ERROR) return SocketErrorResult;
  WSASetLastError(0);
  return result;
}

TSocketHandle Create(int type, int protocol) {
  EnsureStarted();
  const SOCKET socket = ::socket(AF_INET, type, protocol);
  if (socket == INVALID_SOCKET) return InvalidSocket;
  WSASetLastError(0);
  return static_cast<TSocketHandle>(socket);
}

timeval ToTimeval(int timeoutMs) { return timeval{timeoutMs / 1000, (timeoutMs % 1000) * 1000}; }

// One select on one socket for writing or reading (and for errors when
// `withErrors`). Returns 1 ready, 0 time-out, SocketErrorResult on error;
// `failed` tells whether the socket is in the error set.
int Select(TSocketHandle socket, bool forWriting, bool withErrors, int timeoutMs, bool* failed) {
  fd_set ready, errors;
  FD_ZERO(&ready);
  FD_ZERO(&errors);
  FD_SET(Raw(socket), &ready);
  FD_SET(Raw(socket), &errors);
  timeval timeout = ToTimeval(timeoutMs);
  const int result = ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr,
                              withErrors ? &errors : nullptr, timeoutMs < 0 ? nullptr : &timeout);
  if (result == SOCKET_ERROR) return SocketErrorResult;
  if (result == 0) {
    WSASetLastError(SocketErrorTimedOut);
    return 0;
  }
  if (failed) *failed = withErrors && FD_ISSET(Raw(socket), &errors);
  WSASetLastError(0);
  return 1;
}

}  // namespace

int SocketLastError() { return WSAGetLastError(); }
void SocketSetLastError(int code) { WSASetLastError(code); }

std::string SocketErrorMessage(int code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length && text ? std::string(text, length) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
    message.pop_back();
  if (message.empty()) message = "Unknown error (" + std::to_string(code) + ").";
  return message;
}

TSocketHandle SocketCreateTcp() { return Create(SOCK_STREAM, IPPROTO_TCP); }
TSocketHandle SocketCreateUdp() { return Create(SOCK_DGRAM, IPPROTO_UDP); }

int SocketShutdown(TSocketHandle socket) { return Check(::shutdown(Raw(socket), SD_BOTH)); }

int SocketClose(TSocketHandle socket) {
  // Shutting down first wakes a thread blocked in select on the socket.
  ::shutdown(Raw(socket), SD_BOTH);
  return Check(::closesocket(Raw(socket)));
}

int SocketSetNonBlocking(TSocketHandle socket, bool nonBlocking) {
  u_long value = nonBlocking ? 1 : 0;
  return Check(::ioctlsocket(Raw(socket), FIONBIO, &value));
}

int SocketSetTimeouts(TSocketHandle socket, int sendMs, int receiveMs) {
  const DWORD send = static_cast<DWORD>(sendMs), receive = static_cast<DWORD>(receiveMs);
  if (::setsockopt(Raw(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send), sizeof send) != 0)
    return SocketErrorResult;
  return Check(
      ::setsockopt(Raw(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive), sizeof receive));
}

int SocketSetReceiveBufferSize(TSocketHandle socket, int bytes) {
  return Check(::setsockopt(Raw(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes));
}

int SocketSetReuseAddress(TSocketHandle socket, bool reuse) {
  const BOOL value = reuse ? TRUE : FALSE;
  return Check(::setsockopt(Raw(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&value), sizeof value));
}

int SocketBind(TSocketHandle socket, const TSocketAddress& local) {
  const sockaddr_in address = ToSockaddr(local);
  return Check(::bind(Raw(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int SocketLocalAddress(TSocketHandle socket, TSocketAddress& local) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(Raw(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return SocketErrorResult;
  local = FromSockaddr(address);
  return Check(0);
}

int SocketPeerAddress(TSocketHandle socket, TSocketAddress& peer) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getpeername(Raw(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return SocketErrorResult;
  peer = FromSockaddr(address);
  return Check(0);
}

int SocketConnect(TSocketHandle socket, const TSocketAddress& peer) {
  const sockaddr_in address = ToSockaddr(peer);
  return Check(::connect(Raw(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int SocketWaitConnected(TSocketHandle socket, int timeoutMs) {
  // A failed connect shows in the error set, not as writable.
  bool failed = false;
  const int ready = Select(socket, true, true, timeoutMs, &failed);
  if (ready <= 0) return WSAGetLastError();
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(Raw(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
    error = WSAGetLastError();
  if (error == 0 && failed) error = SocketErrorConnectionRefused;
  if (error == 0) {
    TSocketAddress peer;
    if (SocketPeerAddress(socket, peer) != 0) error = WSAGetLastError();
  }
  WSASetLastError(error);
  return error;
}

int SocketListen(TSocketHandle socket, int backlog) { return Check(::listen(Raw(socket), backlog)); }

TSocketHandle SocketAccept(TSocketHandle socket, TSocketAddress* peer) {
  sockaddr_in address{};
  int length = sizeof address;
  const SOCKET accepted = ::accept(Raw(socket), reinterpret_cast<sockaddr*>(&address), &length);
  if (accepted == INVALID_SOCKET) return InvalidSocket;
  if (peer) *peer = FromSockaddr(address);
  WSASetLastError(0);
  return static_cast<TSocketHandle>(accepted);
}

int SocketSend(TSocketHandle socket, const void* data, int length) {
  return Check(::send(Raw(socket), static_cast<const char*>(data), length, 0));
}

int SocketRecv(TSocketHandle socket, void* buffer, int length) {
  return Check(::recv(Raw(socket), static_cast<char*>(buffer), length, 0));
}

int SocketSendTo(TSocketHandle socket, const void* data, int length, const TSocketAddress& to) {
  const sockaddr_in address = ToSockaddr(to);
  return Check(::sendto(Raw(socket), static_cast<const char*>(data), length, 0,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int SocketRecvFrom(TSocketHandle socket, void* buffer, int length, TSocketAddress* from) {
  sockaddr_in address{};
  int addressLength = sizeof address;
  const int received =
      ::recvfrom(Raw(socket), static_cast<char*>(buffer), length, 0, reinterpret_cast<sockaddr*>(&address), &addressLength);
  if (received == SOCKET_ERROR) return SocketErrorResult;
  if (from) *from = FromSockaddr(address);
  return Check(received);
}

int SocketWaitReadable(TSocketHandle socket, int timeoutMs) { return Select(socket, false, false, timeoutMs, nullptr); }
int SocketWaitWritable(TSocketHandle socket, int timeoutMs) { return Select(socket, true, false, timeoutMs, nullptr); }

bool ResolveIPv4(const std::string& name, std::vector<uint32_t>& addresses) {
  EnsureStarted();
  addresses.clear();
  const hostent* host = ::gethostbyname(name.c_str());
  if (!host || host->h_addrtype != AF_INET || host->h_length != 4) return false;
  for (char** entry = host->h_addr_list; *entry; ++entry) {
    uint32_t address;
    memcpy(&address, *entry, 4);
    addresses.push_back(address);
  }
  WSASetLastError(0);
  return !addresses.empty();
}
