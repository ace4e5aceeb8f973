// IPv4 sockets, TCP and UDP, with Winsock error codes on every platform.
//
// Each call mirrors one Windows Sockets call: it returns SocketErrorResult
// (-1) or InvalidSocket on failure, and SocketLastError() then gives the
// Winsock code of that failure for the calling thread (on Linux the errno is
// mapped to the Winsock code, so callers test the same numbers everywhere).
// Windows Sockets 2.2 is started once, by the first call that needs it.
//
// A socket may be closed from another thread to abort a call blocked on it:
// SocketClose shuts the socket down first, which wakes a blocked select,
// recv, recvfrom, accept or connect on every platform.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

using TSocketHandle = intptr_t;
constexpr TSocketHandle InvalidSocket = -1;
constexpr int SocketErrorResult = -1;

// Winsock error codes that the launcher tests for.
enum : int {
  SocketErrorInterrupted = 10004,           // WSAEINTR
  SocketErrorBadHandle = 10009,             // WSAEBADF
  SocketErrorAccess = 10013,                // WSAEACCES
  SocketErrorFault = 10014,                 // WSAEFAULT
  SocketErrorInvalidArgument = 10022,       // WSAEINVAL
  SocketErrorTooManySockets = 10024,        // WSAEMFILE
  SocketErrorWouldBlock = 10035,            // WSAEWOULDBLOCK
  SocketErrorInProgress = 10036,            // WSAEINPROGRESS
  SocketErrorAlready = 10037,               // WSAEALREADY
  SocketErrorNotSocket = 10038,             // WSAENOTSOCK
  SocketErrorDestinationRequired = 10039,   // WSAEDESTADDRREQ
  SocketErrorMessageSize = 10040,           // WSAEMSGSIZE
  SocketErrorProtocolType = 10041,          // WSAEPROTOTYPE
  SocketErrorProtocolNotSupported = 10043,  // WSAEPROTONOSUPPORT
  SocketErrorTypeNotSupported = 10044,      // WSAESOCKTNOSUPPORT
  SocketErrorNotSupported = 10045,          // WSAEOPNOTSUPP
  SocketErrorFamilyNotSupported = 10047,    // WSAEAFNOSUPPORT
  SocketErrorAddressInUse = 10048,          // WSAEADDRINUSE
  SocketErrorAddressNotAvailable = 10049,   // WSAEADDRNOTAVAIL
  SocketErrorNetworkDown = 10050,           // WSAENETDOWN
  SocketErrorNetworkUnreachable = 10051,    // WSAENETUNREACH
  SocketErrorNetworkReset = 10052,          // WSAENETRESET
  SocketErrorConnectionAborted = 10053,     // WSAECONNABORTED
  SocketErrorConnectionReset = 10054,       // WSAECONNRESET
  SocketErrorNoBuffers = 10055,             // WSAENOBUFS
  SocketErrorIsConnected = 10056,           // WSAEISCONN
  SocketErrorNotConnected = 10057,          // WSAENOTCONN
  SocketErrorShutdown = 10058,              // WSAESHUTDOWN
  SocketErrorTimedOut = 10060,              // WSAETIMEDOUT
  SocketErrorConnectionRefused = 10061,     // WSAECONNREFUSED
  SocketErrorHostDown = 10064,              // WSAEHOSTDOWN
  SocketErrorHostUnreachable = 10065,       // WSAEHOSTUNREACH
  SocketErrorNotInitialised = 10093,        // WSANOTINITIALISED
  SocketErrorHostNotFound = 11001,          // WSAHOST_NOT_FOUND
  SocketErrorTryAgain = 11002,              // WSATRY_AGAIN
  SocketErrorNoRecovery = 11003,            // WSANO_RECOVERY
  SocketErrorNoData = 11004,                // WSANO_DATA
};

// Raised only when Windows Sockets cannot be started ("WSAStartup Error.").
class ESocketError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// An IPv4 endpoint: the address in network byte order (as inet_addr gives
// it), the port in host byte order.
struct TSocketAddress {
  uint32_t Address = 0;
  uint16_t Port = 0;
};

// Addresses in network byte order.
constexpr uint32_t AnyAddress = 0;
uint32_t LoopbackAddress();            // 127.0.0.1
constexpr uint32_t NoAddress = 0xFFFFFFFFu;  // INADDR_NONE

// Strict dotted IPv4 text ("a.b.c.d", each part 0..255 in decimal) to an
// address in network byte order; false for anything else.
bool ParseIPv4(const std::string& text, uint32_t& address);
// "a.b.c.d" of an address in network byte order (inet_ntoa).
std::string IPv4Text(uint32_t address);
// "a.b.c.d:port".
std::string SocketAddressText(const TSocketAddress& address);

// The Winsock code of the calling thread's last failed socket call.
int SocketLastError();
void SocketSetLastError(int code);
// The system's message for a Winsock code, without a trailing line end.
std::string SocketErrorMessage(int code);

// Creation and release.
TSocketHandle SocketCreateTcp();
TSocketHandle SocketCreateUdp();
// Shuts both directions down (waking any thread blocked on the socket) and
// releases the handle. Returns 0 or SocketErrorResult.
int SocketClose(TSocketHandle socket);
// shutdown(SD_BOTH): 0 or SocketErrorResult.
int SocketShutdown(TSocketHandle socket);

// Options.
int SocketSetNonBlocking(TSocketHandle socket, bool nonBlocking);
int SocketSetTimeouts(TSocketHandle socket, int sendMs, int receiveMs);
int SocketSetReceiveBufferSize(TSocketHandle socket, int bytes);
int SocketSetReuseAddress(TSocketHandle socket, bool reuse);

// Addresses of a socket.
int SocketBind(TSocketHandle socket, const TSocketAddress& local);
int SocketLocalAddress(TSocketHandle socket, TSocketAddress& local);
int SocketPeerAddress(TSocketHandle socket, TSocketAddress& peer);

// TCP.
// A plain connect: on a non-blocking socket it fails with
// SocketErrorWouldBlock while the connection is being made.
int SocketConnect(TSocketHandle socket, const TSocketAddress& peer);
// After a non-blocking SocketConnect: waits up to `timeoutMs` for the
// outcome. Returns 0 when connected; otherwise the Winsock code (also set as
// the last error): the connect's own failure (refused, unreachable ...) as
// soon as it is known, SocketErrorTimedOut when the time ran out.
int SocketWaitConnected(TSocketHandle socket, int timeoutMs);
int SocketListen(TSocketHandle socket, int backlog);
TSocketHandle SocketAccept(TSocketHandle socket, TSocketAddress* peer);
int SocketSend(TSocketHandle socket, const void* data, int length);
// Bytes received, 0 when the peer closed the connection, or SocketErrorResult.
int SocketRecv(TSocketHandle socket, void* buffer, int length);

// UDP.
int SocketSendTo(TSocketHandle socket, const void* data, int length, const TSocketAddress& to);
int SocketRecvFrom(TSocketHandle socket, void* buffer, int length, TSocketAddress* from);

// select on one socket. `timeoutMs` < 0 waits without limit. Returns 1 when
// ready, 0 when the time ran out (last error SocketErrorTimedOut), or
// SocketErrorResult.
int SocketWaitReadable(TSocketHandle socket, int timeoutMs);
int SocketWaitWritable(TSocketHandle socket, int timeoutMs);

// The system resolver (gethostbyname on Windows): every IPv4 address of a
// host name, in the order the system gives them, in network byte order.
// False (and the last error set) when the name does not resolve.
bool ResolveIPv4(const std::string& name, std::vector<uint32_t>& addresses);
