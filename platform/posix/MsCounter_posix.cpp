// Without a multimedia timer the counter is derived from the monotonic clock:
// 10000 at the first use in the process, one more per elapsed millisecond.
#include <time.h>

#include <atomic>

#include "platform/MsCounter.h"

namespace {

uint64_t MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

const uint64_t Start = MonotonicMs();
std::atomic<uint32_t> Offset{10000};

}  // namespace

uint32_t MsCounter() { return static_cast<uint32_t>(MonotonicMs() - Start) + Offset.load(); }

void AdvanceMsCounter(uint32_t delta) { Offset.fetch_add(delta); }
