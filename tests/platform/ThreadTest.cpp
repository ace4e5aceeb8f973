#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/Tick.h"
#include "support/TestSupport.h"

namespace {

// Waits on an event until terminated; Terminate wakes it through the hook.
class TWaitingWorker : public TThread {
public:
  ~TWaitingWorker() override { TerminateAndWait(); }
  TEvent wake;
  TEvent waiting;

protected:
  void Execute() override {
    while (!Terminated()) {
      waiting.SetEvent();
      wake.WaitFor(UINT32_MAX);
    }
  }
  void TerminatedSet() override { wake.SetEvent(); }
};

class TThrowingWorker : public TThread {
protected:
  void Execute() override { throw std::runtime_error("boom"); }
  std::string ThreadName() const override { return "thrower"; }
};

}  // namespace

TEST(Thread, TerminateWakesABlockedWorker) {
  TWaitingWorker worker;
  worker.Start();
  ASSERT_TRUE(worker.waiting.WaitFor(5000));
  EXPECT_FALSE(worker.Finished());
  worker.TerminateAndWait();
  EXPECT_TRUE(worker.Finished());
}

TEST(Thread, ExceptionEndsTheWorkerWithADebugLine) {
  TLogCapture capture;
  TThrowingWorker worker;
  worker.Start();
  worker.WaitFor();
  EXPECT_TRUE(worker.Finished());
  EXPECT_TRUE(capture.Contains("thrower ended by exception: boom"));
}

TEST(Event, AutoResetAndTimeout) {
  TEvent event;
  const uint32_t start = GetTickCount32();
  EXPECT_FALSE(event.WaitFor(50));
  EXPECT_GE(GetTickCount32() - start, 40u);
  event.SetEvent();
  EXPECT_TRUE(event.WaitFor(0));
  EXPECT_FALSE(event.WaitFor(0));  // reset by the first wait
}
