#include "launcher/logic/UpdateThreadRun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "launcher/logic/PostingSink.h"
#include "launcher/logic/ThreadReaper.h"
#include "platform/File.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

namespace {

int PortBase() {
  const char* base = std::getenv("LAUNCHER_TEST_PORT_BASE");
  return base ? std::atoi(base) : 21000;
}

// What reached the window; kept apart from the sink so that the test can
// see it after the sink is gone.
struct TReceived {
  std::mutex Lock;
  std::vector<uint32_t> Messages;
  TEvent FirstStatus;
};

class TRecordingSink : public TMessageSink {
public:
  explicit TRecordingSink(std::shared_ptr<TReceived> received) : FReceived(std::move(received)) {}
  void Post(uint32_t message, uintptr_t wParam, intptr_t) override {
    if (message == UM_STATUS_TEXT) TakePostedText(wParam);
    std::lock_guard<std::mutex> guard(FReceived->Lock);
    FReceived->Messages.push_back(message);
    if (message == UM_STATUS_TEXT) FReceived->FirstStatus.SetEvent();
  }

private:
  std::shared_ptr<TReceived> FReceived;
};

// Ends when the test says so; records the thread that released it.
class TEndingLater : public TRetired {
public:
  TEndingLater(std::atomic<bool>& ended, std::thread::id& releasedOn) : FEnded(ended), FReleasedOn(releasedOn) {}
  ~TEndingLater() override { FReleasedOn = std::this_thread::get_id(); }
  bool Ended() const override { return FEnded.load(); }

private:
  std::atomic<bool>& FEnded;
  std::thread::id& FReleasedOn;
};

class TCountingSink : public TPostingSink {
public:
  int Tried = 0;
  bool Deliver = true;

protected:
  bool TryPost(uint32_t message, uintptr_t wParam, intptr_t) override {
    ++Tried;
    if (Deliver && message == UM_STATUS_TEXT) TakePostedText(wParam);
    return Deliver;
  }
};

}  // namespace

// Retiring never waits; the object is kept while it runs and released by
// the waiting thread itself once it has ended (no thread frees it later).
TEST(ThreadReaper, KeepsARunningObjectAndReleasesItOnTheWaitingThreadOnceEnded) {
  std::atomic<bool> ended{false};
  std::thread::id releasedOn;
  Retire(std::make_unique<TEndingLater>(ended, releasedOn));
  EXPECT_FALSE(WaitForRetired(50));
  EXPECT_EQ(releasedOn, std::thread::id());
  ended = true;
  EXPECT_TRUE(WaitForRetired(5000));
  EXPECT_EQ(releasedOn, std::this_thread::get_id());
}

TEST(PostingSink, UndeliveredAndDetachedTextsAreFreedNotDelivered) {
  TCountingSink sink;
  sink.Post(UM_STATUS_TEXT, NewPostedText("delivered"), 9);
  sink.Deliver = false;
  // The receiver never sees this one, so the sink frees it (the sanitizer
  // build reports a leak otherwise).
  sink.Post(UM_STATUS_TEXT, NewPostedText("refused"), 7);
  EXPECT_EQ(sink.Tried, 2);
  sink.Deliver = true;
  sink.Detach();
  sink.Post(UM_STATUS_TEXT, NewPostedText("after the window"), 16);
  sink.Post(UM_TOTAL_PROGRESS, 1, 2);
  EXPECT_EQ(sink.Tried, 2);
}

// The window closes while the manifest request hangs: cancelling returns at
// once, the thread then ends in the background, writes its log and posts no
// end of run, and the sink it posts to outlives it.
TEST(UpdateThreadRun, CancelDoesNotWaitForAHangingRequest) {
  TTempFolder folder;
  auto received = std::make_shared<TReceived>();
  auto sink = std::make_shared<TRecordingSink>(received);
  const std::weak_ptr<TRecordingSink> sinkAlive = sink;
  TUpdateEnvironment environment;
  environment.LauncherFolder = folder.Path();
  environment.LauncherBaseName = "launcher";
  TUpdateRunRequest request = UpdateRunRequest(0, "");
  // The fault server holds "/stall" without answering; the query swallows
  // the manifest name.
  request.BaseUrl = "http://127.0.0.1:" + std::to_string(PortBase() + 1) + "/stall?manifest=";
  auto run = UpdateThreadRunFactory(sink, environment)(request);
  sink.reset();
  ASSERT_TRUE(received->FirstStatus.WaitFor(10000));
  SleepMs(300);
  {
    // The request is under way and stalled, not failed.
    std::lock_guard<std::mutex> guard(received->Lock);
    for (uint32_t message : received->Messages) ASSERT_NE(message, UM_UPDATE_ERROR);
  }

  const auto before = std::chrono::steady_clock::now();
  run->Cancel();
  run.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));

  ASSERT_TRUE(WaitForRetired(5000));
  EXPECT_TRUE(sinkAlive.expired());
  EXPECT_TRUE(FileExists(folder / "UpdateLog.txt"));
  std::lock_guard<std::mutex> guard(received->Lock);
  for (uint32_t message : received->Messages) EXPECT_NE(message, UM_UPDATE_DONE);
}

TEST(UpdateThreadRun, AFinishedRunReportsItsEndAndIsReleasedInPlace) {
  TTempFolder folder;
  auto received = std::make_shared<TReceived>();
  TUpdateEnvironment environment;
  environment.LauncherFolder = folder.Path();
  environment.LauncherBaseName = "launcher";
  TUpdateRunRequest request = UpdateRunRequest(1, "");
  // Nothing listens on +9: the manifest fails fast and the run ends failed.
  request.BaseUrl = "http://127.0.0.1:" + std::to_string(PortBase() + 9);
  environment.DownloadHost = "127.0.0.1";
  auto run = UpdateThreadRunFactory(std::make_shared<TRecordingSink>(received), environment)(request);
  EXPECT_EQ(run->UpdatePlan(), 0);
  for (int i = 0; i < 1000; ++i) {
    {
      std::lock_guard<std::mutex> guard(received->Lock);
      if (!received->Messages.empty() && received->Messages.back() == UM_UPDATE_DONE) break;
    }
    SleepMs(20);
  }
  run.reset();
  EXPECT_TRUE(FileExists(folder / "UpdateLog.txt"));
  std::lock_guard<std::mutex> guard(received->Lock);
  ASSERT_FALSE(received->Messages.empty());
  EXPECT_EQ(received->Messages.back(), UM_UPDATE_DONE);
}
