#include "platform/Thread.h"

#include <chrono>
#include <exception>

#include "platform/DebugOutput.h"

TThread::~TThread() { TerminateAndWait(); }

void TThread::Start() {
  FFinished = false;
  FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
  // Nothing escapes a thread: an exception ends the worker with a debug line.
  try {
    Execute();
  } catch (const std::exception& e) {
    DebugOutput(ThreadName() + " ended by exception: " + e.what());
  } catch (...) {
    DebugOutput(ThreadName() + " ended by unknown exception");
  }
  FFinished = true;
}

void TThread::Terminate() {
  FTerminated = true;
  TerminatedSet();
}

void TThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FSet = true;
  }
  FSignal.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> guard(FLock);
  FSet = false;
}

bool TEvent::WaitFor(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FLock);
  if (timeoutMs == UINT32_MAX) {
    FSignal.wait(lock, [this] { return FSet; });
  } else if (!FSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FSet; })) {
    return false;
  }
  FSet = false;
  return true;
}
