// TBlockSocket: the blocking client connection under the HTTP layer, plain
// TCP or TLS. It connects with a time-out (and, for TLS, makes the handshake
// and checks the server's certificate), sends buffers, and reads lines and
// blocks through a receive buffer of its own; failures leave a Winsock code
// and text behind. Every receive goes through the rate limiter the socket is
// given, if any. One thread uses a socket at a time; another thread may call
// Close to abort a call blocked on it.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "http/RateLimiter.h"
#include "platform/Socket.h"
#include "platform/Tls.h"

class TBlockSocket {
public:
  static constexpr int BufferSize = 9216;
  // Limits of the socket calls themselves.
  static constexpr int SocketTimeoutMs = 6000;    // SO_SNDTIMEO, SO_RCVTIMEO, the wait before a receive
  static constexpr int SendRetryWaitMs = 5000;    // wait for writability before the one send retry
  static constexpr int MaxPickedAddresses = 21;   // a host's addresses considered by Connect

  TBlockSocket();
  ~TBlockSocket();
  TBlockSocket(const TBlockSocket&) = delete;
  TBlockSocket& operator=(const TBlockSocket&) = delete;

  // Host: dotted IPv4 text or a name (one of its addresses at random).
  // With a `tlsServerName` the connection is TLS to that server (its name
  // for SNI and the certificate check, whatever address `host` gives).
  bool Connect(const std::string& host, int port, int timeoutMs, const std::string& tlsServerName = std::string());
  // True when there was no socket or its shutdown succeeded. Safe to call
  // from another thread to abort a blocked call.
  bool Close();

  // Bytes sent (one send, retried once after would-block) or -1; 0 when not
  // connected. At most 65535 bytes per call: longer lengths are cut to 16 bits.
  int SendBuffer(const void* data, int length);
  int SendText(const std::string& text);

  // The next line without its line end (CR LF, or a lone CR or LF).
  bool ReadLine(std::string& line);
  // Up to `wanted` bytes (0, negative or above BufferSize mean BufferSize):
  // `data` points into the receive buffer and stays valid until the next
  // read. Returns the count; 0 when nothing arrived.
  int ReadBlock(int wanted, const char*& data);

  // -1 waits without limit.
  bool WaitReadable(int timeoutMs);
  bool WaitWritable(int timeoutMs);

  // The run's cap on what every connection of it receives; null: no cap.
  // Set before the socket is used.
  void SetRateLimiter(std::shared_ptr<TRateLimiter> limiter) { FLimiter = std::move(limiter); }

  bool Connected() const { return FConnected.load(); }
  bool Secure() const { return FTls != nullptr; }
  // Why the last TLS connect failed (None for a plain failure).
  TTlsRefusal TlsRefusal() const;
  // "a.b.c.d:port" of the last connect.
  std::string PeerText() const;
  int LastError() const;
  // "<code>:<system message>", empty after a successful call and for
  // would-block and in-progress.
  std::string ErrorText() const;

  // Index of the address Connect uses among `count` addresses of a host:
  // uniform among the first MaxPickedAddresses.
  static int PickAddressIndex(int count);

private:
  // Records the outcome of a socket call: `failed` takes the thread's last
  // socket error. Returns `failed` negated, for chaining.
  bool Check(bool failed);
  void SetError(int code);
  int Receive();
  bool ResolvePeer(const std::string& host, uint32_t& address);
  bool StartTls(TSocketHandle handle, const std::string& serverName);

  std::atomic<TSocketHandle> FHandle{InvalidSocket};
  std::atomic<bool> FConnected{false};
  mutable std::mutex FStateLock;  // guards the error fields, the peer text and connecting against Close
  int FLastError = 0;
  std::string FErrorText;
  std::string FPeer;
  TTlsRefusal FTlsRefusal = TTlsRefusal::None;
  // Used by the owning thread only: a Close from another thread leaves it
  // to the next Connect or the destructor.
  std::unique_ptr<TTlsSession> FTls;
  std::shared_ptr<TRateLimiter> FLimiter;
  std::unique_ptr<char[]> FBuffer;
  int FBufferStart = 0;
  int FBuffered = 0;
};
