// Progress travels in 32-bit message parameters. A pair whose larger value
// passes 2^31 - 1 (a release package beyond 2 GiB, a run of many files) is
// not cut to its low bits: both values are divided by the same power of two,
// so the bar the window draws from their ratio stays right.
#pragma once
#include <cstdint>

struct TProgressPair {
  uint32_t position;
  uint32_t maximum;
};

inline TProgressPair ScaleProgress(int64_t position, int64_t maximum) {
  if (position < 0) position = 0;
  if (maximum < 0) maximum = 0;
  while (position > INT32_MAX || maximum > INT32_MAX) {
    position >>= 1;
    maximum >>= 1;
  }
  return {static_cast<uint32_t>(position), static_cast<uint32_t>(maximum)};
}
