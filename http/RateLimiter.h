// The download rate cap: one limiter per run, given to every connection of
// the run, so that all of them together stay under the cap while another
// run in the same process keeps its own. Each receive asks how much it may
// read at once and reports what it got; the limiter makes the receiving
// thread wait for its share.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

class TRateLimiter {
public:
  explicit TRateLimiter(int64_t bytesPerSecond = 0) { SetRate(bytesPerSecond); }

  // Bytes per second; 0 lifts the cap.
  void SetRate(int64_t bytesPerSecond);
  int64_t Rate() const;
  // At most `wanted`, and under a cap no more than a tenth of a second's
  // worth (at least 1 KiB), so that no single read waits long.
  int PieceLimit(int wanted) const;
  // Counts received bytes and waits until they fit under the cap.
  void Consumed(int64_t bytes);
  // Every byte counted so far, capped or not: what the run received.
  int64_t Received() const { return FReceived.load(); }

private:
  using TClock = std::chrono::steady_clock;
  mutable std::mutex FLock;
  int64_t FRate = 0;
  std::atomic<int64_t> FReceived{0};
  // The moment at which everything counted so far is paid for; it never
  // lags behind the present by more than a short burst.
  TClock::time_point FPaidUntil{};
};
