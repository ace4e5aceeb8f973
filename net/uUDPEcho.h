// The UDP echo service: a listener on a worker thread of its own that turns
// returning 8-byte probes (the MsCounter value at sending, a record key) into
// round-trip times and reports them with the sender's address and the key.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Socket.h"
#include "platform/Thread.h"

constexpr int EchoProbeSize = 8;
constexpr int EchoReceiveSize = 1024;
constexpr uint32_t EchoRetryMs = 20000;

// Little-endian probe: send time, then key.
void BuildEchoProbe(uint32_t sendTime, uint32_t key, uint8_t probe[EchoProbeSize]);

class TUDPEchoServer : public TThread {
public:
  // (sender's address as dotted text, round-trip time in ms, key)
  using TEchoCallback = std::function<void(const std::string&, int32_t, int32_t)>;

  // `port` 0 lets the system choose a free port. The worker starts at once.
  explicit TUDPEchoServer(uint16_t port);
  ~TUDPEchoServer() override;

  // Replaces the callback; `target` names the object it works on. When it
  // returns, no call of the previous callback is running any more.
  void SetOnEcho(TEchoCallback callback, const void* target = nullptr);
  // Removes the callback if it still works on `target`; afterwards no call on
  // `target` runs or will run, so it may go away.
  void ReleaseOnEcho(const void* target);
  // The port asked for, and after binding the port actually bound.
  uint16_t Port() const { return static_cast<uint16_t>(FPort.load()); }
  bool IsOpen() const { return FSocket.load() != InvalidSocket; }

protected:
  void Execute() override;
  void TerminatedSet() override;
  std::string ThreadName() const override { return "TUDPEchoServer"; }

private:
  bool OpenSocket();
  void ReceiveOne(uint8_t* buffer);

  std::atomic<TSocketHandle> FSocket{InvalidSocket};
  std::atomic<uint32_t> FPort;
  TEvent FWake;
  std::mutex FEchoLock;
  TEchoCallback FOnEcho;
  const void* FOnEchoTarget = nullptr;
};
