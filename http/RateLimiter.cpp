#include "http/RateLimiter.h"

#include <algorithm>
#include <thread>

namespace {
// Idle time that may be spent later as a burst.
constexpr std::chrono::milliseconds Burst{100};
}

void TRateLimiter::SetRate(int64_t bytesPerSecond) {
  std::lock_guard<std::mutex> guard(FLock);
  FRate = std::max<int64_t>(bytesPerSecond, 0);
  FPaidUntil = TClock::now() - Burst;
}

int64_t TRateLimiter::Rate() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FRate;
}

int TRateLimiter::PieceLimit(int wanted) const {
  const int64_t rate = Rate();
  if (rate <= 0) return wanted;
  return static_cast<int>(std::min<int64_t>(wanted, std::max<int64_t>(rate / 10, 1024)));
}

void TRateLimiter::Consumed(int64_t bytes) {
  if (bytes > 0) FReceived += bytes;
  TClock::time_point until;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FRate <= 0 || bytes <= 0) return;
    const TClock::time_point now = TClock::now();
    FPaidUntil = std::max(FPaidUntil, now - Burst);
    FPaidUntil += std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(
        static_cast<double>(bytes) / static_cast<double>(FRate)));
    until = FPaidUntil;
  }
  std::this_thread::sleep_until(until);
}
