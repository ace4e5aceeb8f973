// The download rate cap: one limiter shared by every connection of the
// process, so that all connections of an update run together stay under the
// cap. Each receive asks how much it may read at once and reports what it
// got; the limiter makes the receiving thread wait for its share.
#pragma once
#include <chrono>
#include <cstdint>
#include <mutex>

class TRateLimiter {
public:
  // The limiter of every download of the process.
  static TRateLimiter& Download();

  // Bytes per second; 0 lifts the cap.
  void SetRate(int64_t bytesPerSecond);
  int64_t Rate() const;
  // At most `wanted`, and under a cap no more than a tenth of a second's
  // worth (at least 1 KiB), so that no single read waits long.
  int PieceLimit(int wanted) const;
  // Counts received bytes and waits until they fit under the cap.
  void Consumed(int64_t bytes);

private:
  using TClock = std::chrono::steady_clock;
  mutable std::mutex FLock;
  int64_t FRate = 0;
  // The moment at which everything counted so far is paid for; it never
  // lags behind the present by more than a short burst.
  TClock::time_point FPaidUntil{};
};
