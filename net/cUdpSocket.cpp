#include "net/cUdpSocket.h"

#include <cstring>

#include "platform/DebugOutput.h"
#include "platform/Tick.h"

namespace {

const struct {
  int code;
  const char* text;
} ErrorTexts[] = {
    {10024, "No more socket descriptors are available."},
    {10036, "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still processing a callback function."},
    {10038, "The descriptor is not a socket."},
    {10041, "The specified protocol is the wrong type for this socket."},
    {10043, "The specified protocol is not supported."},
    {10044, "The specified socket type is not supported in this address family."},
    {10047, "The specified address family is not supported."},
    {10048, "The specified address is already in use."},
    {10050, "The network subsystem or the associated service provider has failed."},
    {10055, "No buffer space is available. The socket cannot be created."},
    {10093, "A successful WSAStartup must occur before using this function."},
};

constexpr uint32_t ClosedWaitMs = 20;
constexpr uint32_t OpenWaitMs = 5;

}  // namespace

// ---- TCustomUDPSocket ------------------------------------------------------

TCustomUDPSocket::TCustomUDPSocket() = default;

TCustomUDPSocket::~TCustomUDPSocket() { StopWorker(); }

std::string TCustomUDPSocket::ErrorText(int code) {
  for (const auto& entry : ErrorTexts)
    if (entry.code == code) return entry.text;
  return "ErrorCode is " + std::to_string(code);
}

void TCustomUDPSocket::SetRemoteHost(const std::string& host) {
  if (IsOpen()) return;
  std::lock_guard<std::mutex> guard(FHostLock);
  FRemoteHost = host.substr(0, UdpMaxHostLength);
  const size_t zero = FRemoteHost.find('\0');
  if (zero != std::string::npos) FRemoteHost.resize(zero);
}

std::string TCustomUDPSocket::RemoteHost() const {
  std::lock_guard<std::mutex> guard(FHostLock);
  return FRemoteHost;
}

void TCustomUDPSocket::SetRemotePort(uint16_t port) {
  if (!IsOpen()) FRemotePort = port;
}

void TCustomUDPSocket::Open() {
  FOpenRequested = true;
  FWake.SetEvent();
}

void TCustomUDPSocket::Close() {
  FOpenRequested = false;
  OpenSocket(false);
  FOpenRequested = false;
}

std::string TCustomUDPSocket::FatalError() const {
  std::lock_guard<std::mutex> guard(FFatalLock);
  return FFatalError;
}

void TCustomUDPSocket::ReportError(int code) {
  const std::string text = ErrorText(code);
  if (FOnError) FOnError(text, code);
  if (code != 0) throw EUdpSocketError(text + " (" + std::to_string(code) + ")");
}

void TCustomUDPSocket::StopWorker() {
  FOpenRequested = false;
  Terminate();
  FWake.SetEvent();
  WaitFor();
}

void TCustomUDPSocket::Execute() {
  // The first attempt is made at once, whatever the tick count is.
  bool attempted = false;
  uint32_t lastAttempt = 0;
  try {
    while (!Terminated()) {
      if (FSocket.load() == InvalidSocket) {
        if (FOpenRequested && (!attempted || GetTickCount32() - lastAttempt >= UdpOpenRetryMs)) {
          attempted = true;
          OpenSocket(true);
          lastAttempt = GetTickCount32();
        }
        FWake.WaitFor(ClosedWaitMs);
      } else if (Process()) {
        FWake.WaitFor(OpenWaitMs);
      }
    }
  } catch (const EUdpSocketError& e) {
    {
      std::lock_guard<std::mutex> guard(FFatalLock);
      FFatalError = e.what();
    }
    DebugOutput(std::string("UDP socket worker ended: ") + e.what());
  }
}

// ---- TUDPClientSocket ------------------------------------------------------

TUDPClientSocket::TUDPClientSocket()
    : FSendBuffer(new uint8_t[UdpSendBufferSize + 4]),
      FReceiveBuffer(new uint8_t[UdpMaxDatagram + 1]),
      FRandom(std::random_device{}()) {
  Start();
}

TUDPClientSocket::~TUDPClientSocket() {
  StopWorker();
  OpenSocket(false);
  SetOnError(nullptr);
  std::lock_guard<std::mutex> guard(FQueueLock);
  // Unlinked one by one so a long queue does not recurse on destruction.
  while (FHead) FHead = std::move(FHead->next);
  FTail = nullptr;
}

int32_t TUDPClientSocket::Send(const void* data, int32_t length) {
  if (length <= 0 || length > UdpSendBufferSize || !IsOpen()) return 0;
  std::unique_ptr<uint8_t[]> copy(new uint8_t[static_cast<size_t>(length)]);
  std::memcpy(copy.get(), data, static_cast<size_t>(length));
  return Send(std::move(copy), length);
}

int32_t TUDPClientSocket::Send(std::unique_ptr<uint8_t[]> data, int32_t length) {
  if (length <= 0 || length > UdpSendBufferSize || !IsOpen()) return 0;
  auto node = std::make_unique<TNode>();
  node->data = std::move(data);
  node->length = length;
  std::lock_guard<std::mutex> guard(FQueueLock);
  if (FQueuedBytes + static_cast<size_t>(length) > UdpMaxQueuedBytes) return 0;
  TNode* last = node.get();
  if (FTail != nullptr) {
    FTail->next = std::move(node);
  } else {
    FHead = std::move(node);
  }
  FTail = last;
  ++FQueued;
  FQueuedBytes += static_cast<size_t>(length);
  return length;
}

size_t TUDPClientSocket::QueuedCount() const {
  std::lock_guard<std::mutex> guard(FQueueLock);
  return FQueued;
}

size_t RandomWalkIndex(size_t count, std::minstd_rand& random) {
  std::uniform_int_distribution<unsigned> coin(0, 1);
  size_t index = 0;
  while (index + 1 < count && coin(random) != 0) ++index;
  return index;
}

void TUDPClientSocket::OpenSocket(bool open) {
  if (!open) {
    // The lock keeps the handle from being released while the worker uses it.
    std::lock_guard<std::mutex> guard(FSocketLock);
    const TSocketHandle socket = FSocket.exchange(InvalidSocket);
    if (socket != InvalidSocket) SocketClose(socket);
    return;
  }
  const TSocketHandle socket = SocketCreateUdp();
  if (socket == InvalidSocket) {
    ReportError(SocketLastError());
    return;
  }
  const std::string host = RemoteHost();
  FPeer.Port = RemotePort();
  if (!ParseIPv4(host, FPeer.Address)) {
    FPeer.Address = NoAddress;
    std::vector<uint32_t> addresses;
    if (ResolveIPv4(host, addresses) && !addresses.empty()) {
      FPeer.Address = addresses[RandomWalkIndex(addresses.size(), FRandom)];
    } else {
      const int code = SocketLastError();
      try {
        ReportError(code);
      } catch (...) {
        SocketClose(socket);
        throw;
      }
    }
  }
  FOpenRequested = false;
  FSocket = socket;
  SocketSetNonBlocking(socket, true);
  SocketSetReceiveBufferSize(socket, UdpReceiveBufferSize);
}

bool TUDPClientSocket::MoveQueueToSendBuffer() {
  std::lock_guard<std::mutex> guard(FQueueLock);
  while (FHead) {
    if (Terminated()) return false;
    const int32_t length = FHead->length;
    if (FSendLength > 0 && FSendLength + length > UdpMaxDatagram) break;
    if (FSendLength + length > UdpSendBufferSize) break;
    std::memcpy(FSendBuffer.get() + FSendLength, FHead->data.get(), static_cast<size_t>(length));
    FSendLength += length;
    FHead = std::move(FHead->next);
    --FQueued;
    FQueuedBytes -= static_cast<size_t>(length);
  }
  if (!FHead) FTail = nullptr;
  return true;
}

void TUDPClientSocket::SendPending() {
  if (FSendLength <= 0) return;
  const int32_t piece = FSendLength < UdpMaxDatagram ? FSendLength : UdpMaxDatagram;
  int sent = 0;
  int code = 0;
  {
    std::lock_guard<std::mutex> guard(FSocketLock);
    if (FSocket.load() == InvalidSocket) return;
    sent = SocketSendTo(FSocket.load(), FSendBuffer.get(), piece, FPeer);
    if (sent == SocketErrorResult) code = SocketLastError();
  }
  if (sent > 0) {
    FSendLength -= sent;
    if (FSendLength > 0) std::memmove(FSendBuffer.get(), FSendBuffer.get() + sent, static_cast<size_t>(FSendLength));
    return;
  }
  if (sent != SocketErrorResult) return;
  if (code == SocketErrorWouldBlock || code == SocketErrorInterrupted) return;
  ReportError(code);
  OpenSocket(false);
  FOpenRequested = true;
}

void TUDPClientSocket::ReceiveOne() {
  if (!FOnReceive) return;
  TSocketAddress from;
  int length = 0;
  {
    std::lock_guard<std::mutex> guard(FSocketLock);
    if (FSocket.load() == InvalidSocket) return;
    // One byte more than a datagram may have: a longer one is dropped whole
    // on every platform instead of arriving cut where the system cuts it.
    length = SocketRecvFrom(FSocket.load(), FReceiveBuffer.get(), UdpMaxDatagram + 1, &from);
  }
  if (Terminated() || length < 1 || length > UdpMaxDatagram) return;
  FReceiveBuffer[static_cast<size_t>(length)] = 0;
  FOnReceive(from.Address, from.Port, length, FReceiveBuffer.get());
}

bool TUDPClientSocket::Process() {
  if (!MoveQueueToSendBuffer()) return true;
  SendPending();
  ReceiveOne();
  return true;
}
