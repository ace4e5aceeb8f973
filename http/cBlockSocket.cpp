#include "http/cBlockSocket.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "common/Log.h"
#include "platform/DebugOutput.h"

namespace {

constexpr int MaxSendLength = 65535;

std::mt19937& Random() {
  thread_local std::mt19937 generator{std::random_device{}()};
  return generator;
}

}  // namespace

TBlockSocket::TBlockSocket() : FBuffer(new char[BufferSize]) {}

TBlockSocket::~TBlockSocket() { Close(); }

int TBlockSocket::PickAddressIndex(int count) {
  if (count <= 1) return 0;
  std::uniform_int_distribution<int> pick(0, std::min(count, MaxPickedAddresses) - 1);
  return pick(Random());
}

void TBlockSocket::SetError(int code) {
  std::string text;
  // Would-block and in-progress are expected on the way and leave no text.
  if (code != 0 && code != SocketErrorWouldBlock && code != SocketErrorInProgress)
    text = std::to_string(code) + ":" + SocketErrorMessage(code);
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FLastError = code;
    FErrorText = text;
  }
  if (!text.empty()) DebugOutput(text);
}

bool TBlockSocket::Check(bool failed) {
  SetError(failed ? SocketLastError() : 0);
  return !failed;
}

int TBlockSocket::LastError() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FLastError;
}

std::string TBlockSocket::ErrorText() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FErrorText;
}

TTlsRefusal TBlockSocket::TlsRefusal() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FTlsRefusal;
}

std::string TBlockSocket::PeerText() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FPeer;
}

bool TBlockSocket::Close() {
  TSocketHandle handle;
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FConnected = false;
    handle = FHandle.exchange(InvalidSocket);
  }
  if (handle == InvalidSocket) return true;
  const bool shutDown = Check(SocketShutdown(handle) != 0);
  SocketClose(handle);
  return shutDown;
}

bool TBlockSocket::ResolvePeer(const std::string& host, uint32_t& address) {
  if (ParseIPv4(host, address)) return true;
  std::vector<uint32_t> addresses;
  if (!ResolveIPv4(host, addresses)) {
    SetError(SocketLastError() != 0 ? SocketLastError() : SocketErrorHostNotFound);
    return false;
  }
  address = addresses[PickAddressIndex(static_cast<int>(addresses.size()))];
  return true;
}

bool TBlockSocket::Connect(const std::string& host, int port, int timeoutMs, const std::string& tlsServerName) {
  if (host.empty() || port <= 0 || port > 65535) {
    SetError(SocketErrorInvalidArgument);
    return false;
  }
  if (FHandle.load() != InvalidSocket && !Close()) return false;
  FBufferStart = FBuffered = 0;
  FTls.reset();
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FTlsRefusal = TTlsRefusal::None;
  }

  const TSocketHandle handle = SocketCreateTcp();
  if (!Check(handle == InvalidSocket)) return false;
  FHandle = handle;
  // Every failure from here on releases the socket, unless another thread
  // already closed it to abort the connect.
  auto fail = [&]() {
    TSocketHandle expected = handle;
    if (FHandle.compare_exchange_strong(expected, InvalidSocket)) SocketClose(handle);
    return false;
  };

  TSocketAddress peer;
  peer.Port = static_cast<uint16_t>(port);
  if (!ResolvePeer(host, peer.Address)) return fail();
  const std::string peerText = SocketAddressText(peer);
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FPeer = peerText;
  }
  DebugOutput("\xC1\xAC\xBD\xD3\xB5\xBD " + peerText);  // "连接到 "

  if (!Check(SocketSetNonBlocking(handle, true) != 0)) return fail();
  if (!Check(SocketSetTimeouts(handle, SocketTimeoutMs, SocketTimeoutMs) != 0)) return fail();
  if (SocketConnect(handle, peer) != 0) {
    const int code = SocketLastError();
    if (code != SocketErrorWouldBlock && code != SocketErrorInProgress) {
      Check(true);
      return fail();
    }
  }
  // Writability alone would also report a refused connect as made; the
  // connect's own outcome decides.
  const int outcome = SocketWaitConnected(handle, timeoutMs);
  SetError(outcome);
  if (outcome != 0) return fail();
  if (!Check(SocketSetNonBlocking(handle, false) != 0)) return fail();
  if (!tlsServerName.empty() && !StartTls(handle, tlsServerName)) return fail();
  {
    // Against a Close from another thread between the check and the flag.
    std::lock_guard<std::mutex> guard(FStateLock);
    FConnected = FHandle.load() == handle;
  }
  // Closed by another thread while connecting: the connect was aborted.
  if (!FConnected) SetError(SocketErrorNotSocket);
  return FConnected;
}

// The handshake and the certificate check; a refusal is logged with its
// reason, the host and the certificate's subject.
bool TBlockSocket::StartTls(TSocketHandle handle, const std::string& serverName) {
  FTls = TTlsSession::Create();
  if (FTls->Handshake(handle, serverName, TTlsSession::HandshakeTimeoutMs)) return true;
  const std::string text = FTls->FailureText();
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FTlsRefusal = FTls->Refusal();
    FLastError = SocketErrorConnectionAborted;
    FErrorText = std::to_string(SocketErrorConnectionAborted) + ":" + text;
  }
  LogError(text);
  FTls.reset();
  return false;
}

bool TBlockSocket::WaitReadable(int timeoutMs) {
  const int ready = SocketWaitReadable(FHandle.load(), timeoutMs);
  if (ready < 0) return Check(true);
  if (ready == 0) {
    SetError(SocketErrorTimedOut);
    return false;
  }
  return true;
}

bool TBlockSocket::WaitWritable(int timeoutMs) {
  const int ready = SocketWaitWritable(FHandle.load(), timeoutMs);
  if (ready < 0) return Check(true);
  if (ready == 0) {
    SetError(SocketErrorTimedOut);
    return false;
  }
  return true;
}

int TBlockSocket::SendBuffer(const void* data, int length) {
  if (!FConnected) return 0;
  if (length < 0) {
    SetError(SocketErrorInvalidArgument);
    return -1;
  }
  length = std::min(length, MaxSendLength);
  const TSocketHandle handle = FHandle.load();
  if (FTls) {
    SocketSetLastError(0);
    const bool sent = FTls->Send(data, length);
    if (!sent && SocketLastError() == 0) SocketSetLastError(SocketErrorConnectionAborted);
    Check(!sent);
    return sent ? length : -1;
  }
  int sent = SocketSend(handle, data, length);
  if (sent < 0 && SocketLastError() == SocketErrorWouldBlock) {
    SetError(SocketErrorWouldBlock);
    if (WaitWritable(SendRetryWaitMs)) sent = SocketSend(handle, data, length);
  }
  Check(sent < 0);
  return sent < 0 ? -1 : sent;
}

int TBlockSocket::SendText(const std::string& text) {
  return SendBuffer(text.data(), static_cast<int>(std::min<size_t>(text.size(), MaxSendLength)));
}

// One recv into the free end of the buffer, after the socket became readable
// within SocketTimeoutMs (no wait when TLS already holds bytes). Returns the
// bytes added; 0 when the peer closed the connection, the wait ran out or
// the socket failed. A TLS stream that ends without close_notify fails.
int TBlockSocket::Receive() {
  if (!FConnected) return 0;
  const int end = FBufferStart + FBuffered;
  if (end >= BufferSize) return 0;
  const int wanted = FLimiter ? FLimiter->PieceLimit(BufferSize - end) : BufferSize - end;
  if (!(FTls && FTls->HasBuffered()) && !WaitReadable(SocketTimeoutMs)) return 0;
  int received;
  if (FTls) {
    SocketSetLastError(0);
    received = FTls->Receive(FBuffer.get() + end, wanted);
    if (received < 0 && SocketLastError() == 0) SocketSetLastError(SocketErrorConnectionAborted);
  } else {
    received = SocketRecv(FHandle.load(), FBuffer.get() + end, wanted);
  }
  if (!Check(received < 0)) return 0;
  FBuffered += received;
  if (FLimiter) FLimiter->Consumed(received);
  return received;
}

bool TBlockSocket::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    const char* unread = FBuffer.get() + FBufferStart;
    int at = 0;
    while (at < FBuffered && unread[at] != '\r' && unread[at] != '\n') ++at;
    if (at < FBuffered) {
      // A CR as the last buffered byte may have its LF still on the way.
      if (unread[at] == '\r' && at + 1 == FBuffered) {
        if (FBufferStart > 0) {
          std::memmove(FBuffer.get(), unread, FBuffered);
          FBufferStart = 0;
          unread = FBuffer.get();
        }
        if (Receive() <= 0) return false;
      }
      line.assign(unread, at);
      // CR LF is one line end; a lone CR or LF ends the line by itself, so
      // that the first byte of the next line is never taken with it.
      const int endLength = (unread[at] == '\r' && at + 1 < FBuffered && unread[at + 1] == '\n') ? 2 : 1;
      FBufferStart += at + endLength;
      FBuffered -= at + endLength;
      if (FBuffered == 0) FBufferStart = 0;
      return true;
    }
    if (FBuffered >= BufferSize) {
      SetError(SocketErrorNoBuffers);
      return false;
    }
    if (FBufferStart > 0) {
      std::memmove(FBuffer.get(), unread, FBuffered);
      FBufferStart = 0;
    }
    if (Receive() <= 0) return false;
  }
}

int TBlockSocket::ReadBlock(int wanted, const char*& data) {
  if (wanted <= 0 || wanted > BufferSize) wanted = BufferSize;
  if (FBuffered < wanted) {
    if (FBufferStart > 0 && FBuffered > 0) std::memmove(FBuffer.get(), FBuffer.get() + FBufferStart, FBuffered);
    FBufferStart = 0;
    Receive();
  }
  const int count = std::min(FBuffered, wanted);
  data = FBuffer.get() + FBufferStart;
  FBufferStart += count;
  FBuffered -= count;
  if (FBuffered == 0) FBufferStart = 0;
  return count;
}
