#include "launcher/logic/ThreadReaper.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/DebugOutput.h"

namespace {

struct TReaperState {
  std::mutex Lock;
  std::condition_variable AllGone;
  int Pending = 0;
};

// Never destroyed: a reaper thread may still run while the process ends,
// and it must not find its lock gone.
TReaperState& State() {
  static TReaperState* state = new TReaperState;
  return *state;
}

void Release(std::unique_ptr<TRetired> retired) {
  try {
    retired.reset();
  } catch (const std::exception& e) {
    DebugOutput(std::string("retired object: ") + e.what());
  } catch (...) {
    DebugOutput("retired object: unknown exception");
  }
  TReaperState& state = State();
  std::lock_guard<std::mutex> guard(state.Lock);
  if (--state.Pending == 0) state.AllGone.notify_all();
}

}  // namespace

void RetireInBackground(std::unique_ptr<TRetired> retired) {
  if (!retired) return;
  TReaperState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.Lock);
    ++state.Pending;
  }
  try {
    std::thread(Release, std::move(retired)).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the failed start has already destroyed the object
    // here (waiting after all); only the count is left to settle.
    Release(nullptr);
  }
}

bool WaitForRetired(uint32_t timeoutMs) {
  TReaperState& state = State();
  std::unique_lock<std::mutex> lock(state.Lock);
  return state.AllGone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state.Pending == 0; });
}
