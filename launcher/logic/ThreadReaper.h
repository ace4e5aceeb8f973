// Objects whose release would wait (a cancelled worker thread that still has
// to notice its flag), kept until they have ended so that the window never
// waits for them. Nothing is freed on a thread of its own: the ended ones
// are released by the next Retire or WaitForRetired call, on its thread, and
// the program waits for the rest before it ends.
#pragma once
#include <cstdint>
#include <memory>

class TRetired {
public:
  virtual ~TRetired() = default;
  // True once destroying the object no longer waits for anything.
  virtual bool Ended() const = 0;
};

// Keeps `retired` until it has ended; releases those that already have.
void Retire(std::unique_ptr<TRetired> retired);
// Releases every retired object as it ends, waiting up to `timeoutMs`;
// true when none is left.
bool WaitForRetired(uint32_t timeoutMs);
