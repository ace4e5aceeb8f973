// Worker threads with a terminate flag that the worker polls, and auto-reset
// events. Built on the standard library, so the same code runs everywhere.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class TThread {
public:
  TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // A derived class whose Execute uses its own members must call
  // TerminateAndWait() in its own destructor, before those members go.
  virtual ~TThread();

  void Start();
  // Sets the flag and calls TerminatedSet() so a worker blocked in a call can
  // be woken (a socket closed, an event set). Never kills the thread.
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  // Waits for Execute to return; harmless when never started or already joined.
  void WaitFor();
  void TerminateAndWait() { Terminate(); WaitFor(); }
  bool Finished() const { return FFinished.load(); }

protected:
  virtual void Execute() = 0;
  virtual void TerminatedSet() {}
  // Name used in the debug line when Execute lets an exception escape.
  virtual std::string ThreadName() const { return "thread"; }

private:
  void Run();
  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
};

// Auto-reset event: one waiter is released per SetEvent, then it resets.
class TEvent {
public:
  void SetEvent();
  void ResetEvent();
  // True when signalled within `timeoutMs` (UINT32_MAX waits forever).
  bool WaitFor(uint32_t timeoutMs);

private:
  std::mutex FLock;
  std::condition_variable FSignal;
  bool FSet = false;
};
