// The slow-server bound of a fetch: within every window of time it must
// bring a useful amount of body bytes, or everything it still wanted. Bytes
// that trickle in keep a connection from falling silent but never start a
// new window, so a server that drips a byte a second is cut off like a
// silent one. Any thread may report and ask.
#pragma once
#include <atomic>
#include <cstdint>

class TProgressBound {
public:
  TProgressBound(uint32_t windowMs, int64_t usefulBytes) : FWindowMs(windowMs), FUsefulBytes(usefulBytes) {}

  // A new window starts now, with nothing counted.
  void Restart();
  // Body bytes delivered toward what was asked; a window that has brought
  // the useful amount starts the next one.
  void Add(int64_t bytes);
  // Everything a request wanted has come, however little: a new window.
  void Completed() { Restart(); }
  // The window ran out without a useful amount.
  bool Expired() const;
  uint32_t WindowMs() const { return FWindowMs; }
  int64_t UsefulBytes() const { return FUsefulBytes; }

private:
  const uint32_t FWindowMs;
  const int64_t FUsefulBytes;
  std::atomic<uint32_t> FWindowStart{0};
  std::atomic<int64_t> FBytes{0};
};
