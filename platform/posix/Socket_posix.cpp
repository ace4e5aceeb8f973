// Sockets on POSIX systems, behaving like their Windows Sockets counterparts:
// errno values become Winsock codes, a receive time-out is 10060, a send to
// a closed peer raises no signal.
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/SockaddrIn.h"
#include "platform/Socket.h"

namespace {

thread_local int LastError = 0;

int WinsockCode(int error) {
  switch (error) {
    case EINTR: return SocketErrorInterrupted;
    case EBADF: return SocketErrorNotSocket;
    case EACCES: case EPERM: return SocketErrorAccess;
    case EFAULT: return SocketErrorFault;
    case EINVAL: return SocketErrorInvalidArgument;
    case EMFILE: case ENFILE: return SocketErrorTooManySockets;
    case EAGAIN: return SocketErrorWouldBlock;
    // A non-blocking connect in progress is "would block" on Windows.
    case EINPROGRESS: return SocketErrorWouldBlock;
    case EALREADY: return SocketErrorAlready;
    case ENOTSOCK: return SocketErrorNotSocket;
    case EDESTADDRREQ: return SocketErrorDestinationRequired;
    case EMSGSIZE: return SocketErrorMessageSize;
    case EPROTOTYPE: return SocketErrorProtocolType;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return SocketErrorProtocolNotSupported;
    case ESOCKTNOSUPPORT: return SocketErrorTypeNotSupported;
    case EOPNOTSUPP: return SocketErrorNotSupported;
    case EAFNOSUPPORT: return SocketErrorFamilyNotSupported;
    case EADDRINUSE: return SocketErrorAddressInUse;
    case EADDRNOTAVAIL: return SocketErrorAddressNotAvailable;
    case ENETDOWN: return SocketErrorNetworkDown;
    case ENETUNREACH: return SocketErrorNetworkUnreachable;
    case ENETRESET: return SocketErrorNetworkReset;
    case ECONNABORTED: return SocketErrorConnectionAborted;
    case ECONNRESET: return SocketErrorConnectionReset;
    case EPIPE: return SocketErrorShutdown;
    case ENOBUFS: case ENOMEM: return SocketErrorNoBuffers;
    case EISCONN: return SocketErrorIsConnected;
    case ENOTCONN: return SocketErrorNotConnected;
    case ESHUTDOWN: return SocketErrorShutdown;
    case ETIMEDOUT: return SocketErrorTimedOut;
    case ECONNREFUSED: return SocketErrorConnectionRefused;
    case EHOSTDOWN: return SocketErrorHostDown;
    case EHOSTUNREACH: return SocketErrorHostUnreachable;
    default: return SocketErrorInvalidArgument;
  }
}

int Fail(int error) {
  LastError = WinsockCode(error);
  return SocketErrorResult;
}

// A blocking socket whose SO_RCVTIMEO or SO_SNDTIMEO ran out reports EAGAIN
// here but WSAETIMEDOUT on Windows.
int FailTransfer(TSocketHandle socket, int error) {
  // A send on a stream that is not (or no longer) connected is EPIPE here,
  // WSAENOTCONN on Windows; on one shut down for sending it is WSAESHUTDOWN.
  if (error == EPIPE) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&peer), &length) != 0) error = ENOTCONN;
  }
  if (error == EAGAIN || error == EWOULDBLOCK) {
    const int flags = fcntl(static_cast<int>(socket), F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) {
      LastError = SocketErrorTimedOut;
      return SocketErrorResult;
    }
  }
  return Fail(error);
}

int Ok(int result) {
  LastError = 0;
  return result;
}

TSocketHandle Create(int type, int protocol) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    Fail(errno);
    return InvalidSocket;
  }
  LastError = 0;
  return fd;
}

int Wait(TSocketHandle socket, short events, int timeoutMs) {
  pollfd entry{static_cast<int>(socket), events, 0};
  for (;;) {
    const int result = ::poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (result < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (result == 0) {
      LastError = SocketErrorTimedOut;
      return 0;
    }
    if (entry.revents & POLLNVAL) return Fail(EBADF);
    // Hang-up and error count as ready, like select: the next call reports them.
    return Ok(1);
  }
}

}  // namespace

int SocketLastError() { return LastError; }
void SocketSetLastError(int code) { LastError = code; }

TSocketHandle SocketCreateTcp() { return Create(SOCK_STREAM, IPPROTO_TCP); }
TSocketHandle SocketCreateUdp() { return Create(SOCK_DGRAM, IPPROTO_UDP); }

int SocketShutdown(TSocketHandle socket) {
  if (::shutdown(static_cast<int>(socket), SHUT_RDWR) != 0) return Fail(errno);
  return Ok(0);
}

int SocketClose(TSocketHandle socket) {
  // close() alone does not wake a thread blocked in poll or recv on Linux;
  // shutdown does, even on an unconnected datagram socket.
  ::shutdown(static_cast<int>(socket), SHUT_RDWR);
  if (::close(static_cast<int>(socket)) != 0) return Fail(errno);
  return Ok(0);
}

int SocketSetNonBlocking(TSocketHandle socket, bool nonBlocking) {
  const int fd = static_cast<int>(socket);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return Fail(errno);
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (fcntl(fd, F_SETFL, wanted) != 0) return Fail(errno);
  return Ok(0);
}

int SocketSetTimeouts(TSocketHandle socket, int sendMs, int receiveMs) {
  const timeval send{sendMs / 1000, (sendMs % 1000) * 1000};
  const timeval receive{receiveMs / 1000, (receiveMs % 1000) * 1000};
  const int fd = static_cast<int>(socket);
  if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send) != 0) return Fail(errno);
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive) != 0) return Fail(errno);
  return Ok(0);
}

int SocketSetReceiveBufferSize(TSocketHandle socket, int bytes) {
  if (setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) return Fail(errno);
  return Ok(0);
}

int SocketSetReuseAddress(TSocketHandle socket, bool reuse) {
  const int value = reuse ? 1 : 0;
  if (setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) != 0) return Fail(errno);
  return Ok(0);
}

int SocketBind(TSocketHandle socket, const TSocketAddress& local) {
  const sockaddr_in address = ToSockaddr(local);
  if (::bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return Fail(errno);
  return Ok(0);
}

int SocketLocalAddress(TSocketHandle socket, TSocketAddress& local) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return Fail(errno);
  local = FromSockaddr(address);
  return Ok(0);
}

int SocketPeerAddress(TSocketHandle socket, TSocketAddress& peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getpeername(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return Fail(errno);
  peer = FromSockaddr(address);
  return Ok(0);
}

int SocketConnect(TSocketHandle socket, const TSocketAddress& peer) {
  const sockaddr_in address = ToSockaddr(peer);
  if (::connect(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return Fail(errno);
  return Ok(0);
}

int SocketWaitConnected(TSocketHandle socket, int timeoutMs) {
  const int ready = Wait(socket, POLLOUT, timeoutMs);
  if (ready <= 0) return LastError;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) {
    Fail(error);
    return LastError;
  }
  // Writable without a pending error but not connected: the socket was shut
  // down from another thread while connecting.
  TSocketAddress peer;
  if (SocketPeerAddress(socket, peer) != 0) return LastError;
  return 0;
}

int SocketListen(TSocketHandle socket, int backlog) {
  if (::listen(static_cast<int>(socket), backlog) != 0) return Fail(errno);
  return Ok(0);
}

TSocketHandle SocketAccept(TSocketHandle socket, TSocketAddress* peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  const int fd = ::accept4(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    FailTransfer(socket, errno);
    return InvalidSocket;
  }
  if (peer) *peer = FromSockaddr(address);
  LastError = 0;
  return fd;
}

int SocketSend(TSocketHandle socket, const void* data, int length) {
  const ssize_t sent = ::send(static_cast<int>(socket), data, length < 0 ? 0 : length, MSG_NOSIGNAL);
  if (sent < 0) return FailTransfer(socket, errno);
  return Ok(static_cast<int>(sent));
}

int SocketRecv(TSocketHandle socket, void* buffer, int length) {
  for (;;) {
    const ssize_t received = ::recv(static_cast<int>(socket), buffer, length < 0 ? 0 : length, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0) return FailTransfer(socket, errno);
    return Ok(static_cast<int>(received));
  }
}

int SocketSendTo(TSocketHandle socket, const void* data, int length, const TSocketAddress& to) {
  const sockaddr_in address = ToSockaddr(to);
  const ssize_t sent = ::sendto(static_cast<int>(socket), data, length < 0 ? 0 : length, MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (sent < 0) return FailTransfer(socket, errno);
  return Ok(static_cast<int>(sent));
}

int SocketRecvFrom(TSocketHandle socket, void* buffer, int length, TSocketAddress* from) {
  for (;;) {
    sockaddr_in address{};
    socklen_t addressLength = sizeof address;
    // MSG_TRUNC reports a datagram longer than the buffer, as Windows does
    // with WSAEMSGSIZE.
    const ssize_t received = ::recvfrom(static_cast<int>(socket), buffer, length < 0 ? 0 : length, MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&address), &addressLength);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0) return FailTransfer(socket, errno);
    if (from) *from = FromSockaddr(address);
    if (received > length) return Fail(EMSGSIZE);
    return Ok(static_cast<int>(received));
  }
}

int SocketWaitReadable(TSocketHandle socket, int timeoutMs) { return Wait(socket, POLLIN, timeoutMs); }
int SocketWaitWritable(TSocketHandle socket, int timeoutMs) { return Wait(socket, POLLOUT, timeoutMs); }

bool ResolveIPv4(const std::string& name, std::vector<uint32_t>& addresses) {
  addresses.clear();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int result = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (result != 0) {
    switch (result) {
      case EAI_AGAIN: LastError = SocketErrorTryAgain; break;
      case EAI_NONAME: LastError = SocketErrorHostNotFound; break;
#ifdef EAI_NODATA
      case EAI_NODATA: LastError = SocketErrorNoData; break;
#endif
      default: LastError = SocketErrorNoRecovery; break;
    }
    return false;
  }
  for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
    const uint32_t address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    addresses.push_back(address);
  }
  freeaddrinfo(list);
  LastError = 0;
  return !addresses.empty();
}

// The messages Windows gives for these codes, so that logs read the same on
// every platform.
std::string SocketErrorMessage(int code) {
  switch (code) {
    case 10004: return "A blocking operation was interrupted by a call to WSACancelBlockingCall.";
    case 10009: return "The file handle supplied is not valid.";
    case 10013: return "An attempt was made to access a socket in a way forbidden by its access permissions.";
    case 10014: return "The system detected an invalid pointer address in attempting to use a pointer argument in a call.";
    case 10022: return "An invalid argument was supplied.";
    case 10024: return "Too many open sockets.";
    case 10035: return "A non-blocking socket operation could not be completed immediately.";
    case 10036: return "A blocking operation is currently executing.";
    case 10037: return "An operation was attempted on a non-blocking socket that already had an operation in progress.";
    case 10038: return "An operation was attempted on something that is not a socket.";
    case 10039: return "A required address was omitted from an operation on a socket.";
    case 10040: return "A message sent on a datagram socket was larger than the internal message buffer or some other "
                       "network limit, or the buffer used to receive a datagram into was smaller than the datagram itself.";
    case 10041: return "A protocol was specified in the socket function call that does not support the semantics of the "
                       "socket type requested.";
    case 10042: return "An unknown, invalid, or unsupported option or level was specified in a getsockopt or setsockopt call.";
    case 10043: return "The requested protocol has not been configured into the system, or no implementation for it exists.";
    case 10044: return "The support for the specified socket type does not exist in this address family.";
    case 10045: return "The attempted operation is not supported for the type of object referenced.";
    case 10047: return "An address incompatible with the requested protocol was used.";
    case 10048: return "Only one usage of each socket address (protocol/network address/port) is normally permitted.";
    case 10049: return "The requested address is not valid in its context.";
    case 10050: return "A socket operation encountered a dead network.";
    case 10051: return "A socket operation was attempted to an unreachable network.";
    case 10052: return "The connection has been broken due to keep-alive activity detecting a failure while the operation "
                       "was in progress.";
    case 10053: return "An established connection was aborted by the software in your host machine.";
    case 10054: return "An existing connection was forcibly closed by the remote host.";
    case 10055: return "An operation on a socket could not be performed because the system lacked sufficient buffer space "
                       "or because a queue was full.";
    case 10056: return "A connect request was made on an already connected socket.";
    case 10057: return "A request to send or receive data was disallowed because the socket is not connected and (when "
                       "sending on a datagram socket using a sendto call) no address was supplied.";
    case 10058: return "A request to send or receive data was disallowed because the socket had already been shut down "
                       "in that direction with a previous shutdown call.";
    case 10060: return "A connection attempt failed because the connected party did not properly respond after a period "
                       "of time, or established connection failed because connected host has failed to respond.";
    case 10061: return "No connection could be made because the target machine actively refused it.";
    case 10064: return "A socket operation failed because the destination host was down.";
    case 10065: return "A socket operation was attempted to an unreachable host.";
    case 10093: return "Either the application has not called WSAStartup, or WSAStartup failed.";
    case 11001: return "No such host is known.";
    case 11002: return "This is usually a temporary error during hostname resolution and means that the local server did "
                       "not receive a response from an authoritative server.";
    case 11003: return "A non-recoverable error occurred during a database lookup.";
    case 11004: return "The requested name is valid, but no data of the requested type was found.";
    default: return "Unknown error (" + std::to_string(code) + ").";
  }
}
