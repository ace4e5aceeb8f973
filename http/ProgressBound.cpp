#include "http/ProgressBound.h"

#include "platform/Tick.h"

void TProgressBound::Restart() {
  FBytes = 0;
  FWindowStart = GetTickCount32();
}

void TProgressBound::Add(int64_t bytes) {
  if ((FBytes += bytes) >= FUsefulBytes) Restart();
}

bool TProgressBound::Expired() const {
  // The start is read before the clock, so a window that has just begun
  // never seems to lie in the future.
  const uint32_t start = FWindowStart.load();
  return GetTickCount32() - start > FWindowMs;
}
