#include "launcher/logic/ThreadReaper.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/Thread.h"
#include "platform/Tick.h"

namespace {

struct TReaperState {
  std::mutex Lock;
  std::vector<std::unique_ptr<TRetired>> Waiting;
};

// Never destroyed: an object still running when the process ends is left
// alone rather than freed under its thread.
TReaperState& State() {
  static TReaperState* state = new TReaperState;
  return *state;
}

// Releases the objects that have ended, outside the lock (a release may
// write a file); true when none is left.
bool ReleaseEnded() {
  TReaperState& state = State();
  std::vector<std::unique_ptr<TRetired>> ended;
  bool empty;
  {
    std::lock_guard<std::mutex> guard(state.Lock);
    auto running = std::stable_partition(state.Waiting.begin(), state.Waiting.end(),
                                         [](const std::unique_ptr<TRetired>& retired) { return !retired->Ended(); });
    std::move(running, state.Waiting.end(), std::back_inserter(ended));
    state.Waiting.erase(running, state.Waiting.end());
    empty = state.Waiting.empty();
  }
  for (std::unique_ptr<TRetired>& retired : ended) {
    try {
      retired.reset();
    } catch (const std::exception& e) {
      DebugOutput(std::string("retired object: ") + e.what());
    } catch (...) {
      DebugOutput("retired object: unknown exception");
    }
  }
  return empty;
}

}  // namespace

void Retire(std::unique_ptr<TRetired> retired) {
  if (retired) {
    TReaperState& state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    state.Waiting.push_back(std::move(retired));
  }
  ReleaseEnded();
}

bool WaitForRetired(uint32_t timeoutMs) {
  const uint32_t start = GetTickCount32();
  while (!ReleaseEnded()) {
    if (GetTickCount32() - start >= timeoutMs) return false;
    SleepMs(10);
  }
  return true;
}
