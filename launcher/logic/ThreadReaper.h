// Releasing objects whose release may wait (a cancelled worker thread that
// still has to notice its flag) on threads of their own, so that the window
// never waits for them. The process asks at its end how many are left and
// ends without them when they take too long.
#pragma once
#include <cstdint>
#include <memory>

class TRetired {
public:
  virtual ~TRetired() = default;
};

// Destroys `retired` on a detached thread of its own.
void RetireInBackground(std::unique_ptr<TRetired> retired);
// Waits up to `timeoutMs` until every retired object has been destroyed;
// true when none is left.
bool WaitForRetired(uint32_t timeoutMs);
