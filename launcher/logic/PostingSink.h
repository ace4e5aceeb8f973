// A message sink over a posting call that can fail (PostMessageA to a window
// that is gone). A status text whose post fails is freed here, since no
// receiver will ever take it. Detach() makes every later post fail, so a
// worker that outlives the window posts into nothing.
#pragma once
#include <atomic>

#include "common/WindowMessages.h"

class TPostingSink : public TMessageSink {
public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  // From now on nothing reaches the receiver.
  void Detach() { FDetached = true; }
  bool Detached() const { return FDetached; }

protected:
  // Hands the message to the receiver; false when it was not delivered.
  virtual bool TryPost(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

private:
  std::atomic<bool> FDetached{false};
};
