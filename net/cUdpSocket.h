// A UDP socket that lives on a worker thread of its own. TCustomUDPSocket is
// the thread and the socket's life cycle (opened on request, retried every
// 30 seconds, closed); TUDPClientSocket adds the queue of outgoing messages,
// which it packs into datagrams of at most 16 KiB, and hands every received
// datagram to OnReceive. Every socket call happens on the worker.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/Socket.h"
#include "platform/Thread.h"

constexpr int UdpMaxDatagram = 16384;
constexpr int UdpSendBufferSize = 131072;
constexpr int UdpReceiveBufferSize = 131072;
constexpr uint32_t UdpOpenRetryMs = 30000;
constexpr size_t UdpMaxHostLength = 63;
// Messages waiting beyond this many bytes are refused rather than kept.
constexpr size_t UdpMaxQueuedBytes = 4 * 1024 * 1024;

// A socket error that no OnError handler cleared; it ends the worker.
class EUdpSocketError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The address walk over a resolved host's addresses: start at the first,
// move on while a random bit is 1 and a next address exists. Address k of n
// is chosen with probability 1/2^(k+1), the last one with 1/2^(n-1).
// `count` must be at least 1.
size_t RandomWalkIndex(size_t count, std::minstd_rand& random);

class TCustomUDPSocket : public TThread {
public:
  // (message text, error code); the handler sets the code to 0 to mark the
  // error as handled.
  using TErrorCallback = std::function<void(const std::string&, int&)>;

  ~TCustomUDPSocket() override;

  // Both are ignored while the socket is open; the host keeps at most 63 characters.
  void SetRemoteHost(const std::string& host);
  std::string RemoteHost() const;
  void SetRemotePort(uint16_t port);
  uint16_t RemotePort() const { return FRemotePort.load(); }
  // Assigned by the owner before Open.
  void SetOnError(TErrorCallback handler) { FOnError = std::move(handler); }

  // Asks the worker to open the socket; returns at once.
  void Open();
  void Close();
  bool IsOpen() const { return FSocket.load() != InvalidSocket; }
  // The error that ended the worker ("<text> (<code>)"), empty while it runs.
  std::string FatalError() const;

  // The text ReportError gives a Winsock error code.
  static std::string ErrorText(int code);

protected:
  TCustomUDPSocket();
  virtual void OpenSocket(bool open) = 0;
  virtual bool Process() = 0;
  void Execute() override;
  void TerminatedSet() override { FWake.SetEvent(); }
  // Hands the error to OnError; when the code is still set afterwards it
  // throws EUdpSocketError, which ends the worker.
  void ReportError(int code);
  // Stops the worker; the derived class calls it first in its destructor.
  void StopWorker();

  TEvent FWake;
  std::atomic<TSocketHandle> FSocket{InvalidSocket};
  std::atomic<bool> FOpenRequested{false};

private:
  mutable std::mutex FHostLock;
  std::string FRemoteHost;
  std::atomic<uint16_t> FRemotePort{0};
  TErrorCallback FOnError;
  mutable std::mutex FFatalLock;
  std::string FFatalError;
};

class TUDPClientSocket final : public TCustomUDPSocket {
public:
  // (sender's IPv4 address in network byte order, sender's port, length, data);
  // the data is valid only during the call, which runs on the worker.
  using TReceiveCallback = std::function<void(uint32_t, uint16_t, int32_t, const uint8_t*)>;

  // The worker starts at once.
  TUDPClientSocket();
  ~TUDPClientSocket() override;

  // Queues a copy of one message of 1 to 131,072 bytes; returns its length,
  // or 0 when nothing was queued (bad length, socket not open).
  int32_t Send(const void* data, int32_t length);
  // The same, taking the buffer over; it is released when nothing is queued.
  int32_t Send(std::unique_ptr<uint8_t[]> data, int32_t length);
  // Assigned by the owner before Open.
  void SetOnReceive(TReceiveCallback handler) { FOnReceive = std::move(handler); }
  // Messages waiting in the queue (not yet in the send buffer).
  size_t QueuedCount() const;

protected:
  void OpenSocket(bool open) override;
  bool Process() override;
  std::string ThreadName() const override { return "TUDPClientSocket"; }

private:
  struct TNode {
    std::unique_ptr<uint8_t[]> data;
    int32_t length;
    std::unique_ptr<TNode> next;
  };
  bool MoveQueueToSendBuffer();
  void SendPending();
  void ReceiveOne();

  mutable std::mutex FQueueLock;
  // Held around every use of the handle on the worker and around closing it.
  std::mutex FSocketLock;
  TSocketAddress FPeer;
  std::unique_ptr<uint8_t[]> FSendBuffer;
  int32_t FSendLength = 0;
  std::unique_ptr<TNode> FHead;
  TNode* FTail = nullptr;
  size_t FQueued = 0;
  size_t FQueuedBytes = 0;
  TReceiveCallback FOnReceive;
  std::unique_ptr<uint8_t[]> FReceiveBuffer;
  std::minstd_rand FRandom;
};
