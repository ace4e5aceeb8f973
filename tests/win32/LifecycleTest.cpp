// The main window's lifecycle under Wine: creation and first-tick order, the
// update thread's messages through the real window, activation by a second
// instance, hiding, and closing while a request hangs.
#include "launcher/uBGForm.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/WindowMessages.h"
#include "launcher/logic/ThreadReaper.h"
#include "package/LauncherConfig.h"
#include "platform/Socket.h"
#include "support/MessagePump.h"
#include "support/TestSupport.h"

namespace {

// The position of each line among the captured ones, in the order given;
// -1 for a missing one.
std::vector<long> Positions(const TLogCapture& log, const std::vector<std::string>& lines) {
  const std::vector<std::string> captured = log.Lines();
  std::vector<long> at;
  for (const std::string& line : lines) {
    const auto found = std::find(captured.begin(), captured.end(), line);
    at.push_back(found == captured.end() ? -1 : static_cast<long>(found - captured.begin()));
  }
  return at;
}

void ExpectInOrder(const TLogCapture& log, const std::vector<std::string>& lines) {
  const std::vector<long> at = Positions(log, lines);
  for (size_t i = 0; i < at.size(); ++i) {
    EXPECT_GE(at[i], 0) << "missing: " << lines[i];
    if (i > 0) EXPECT_LT(at[i - 1], at[i]) << lines[i - 1] << " before " << lines[i];
  }
}

// A TCP listener that never accepts: a connect completes in the backlog and
// the request then waits for an answer that never comes.
class TSilentServer {
public:
  TSilentServer() : FSocket(SocketCreateTcp()) {
    TSocketAddress local{LoopbackAddress(), 0};
    SocketBind(FSocket, local);
    SocketListen(FSocket, 8);
    SocketLocalAddress(FSocket, local);
    FPort = local.Port;
  }
  ~TSilentServer() { SocketClose(FSocket); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(FPort); }

private:
  TSocketHandle FSocket;
  uint16_t FPort = 0;
};

// The configuration a test sets, restored afterwards.
class TConfigScope {
public:
  TConfigScope() : FSaved(LauncherConfig) {}
  ~TConfigScope() { LauncherConfig = FSaved; }

private:
  TLauncherConfig FSaved;
};

// The window of these tests stays where it is: the install-location check
// (which would ask for a game folder here) is not run.
TMainWindowPlaces StayingPlaces() {
  TMainWindowPlaces places;
  places.runInstallCheck = false;
  return places;
}

}  // namespace

TEST(Lifecycle, CreationRunsItsStepsInOrderAndLeavesTheSkinForTheFirstTick) {
  TLogCapture log;
  TfrmMain form(StayingPlaces());
  form.EndsApplication = false;
  ExpectInOrder(log, {"Form create begin", "form create initconfig end", "form create wb create"});
  EXPECT_TRUE(form.RunTimer.Enabled());
  EXPECT_FALSE(form.UpdateTimer.Enabled());
  EXPECT_FALSE(form.Initialized);
  EXPECT_EQ(form.UpdatePhase(), 0);
  EXPECT_FALSE(form.UpdateRunning());
  EXPECT_FALSE(IsWindowVisible(form.Handle()));
}

TEST(Lifecycle, FirstTickComposesThenStartsTheClientRunAndLaterTicksDoNotRepeatIt) {
  TConfigScope config;
  TSilentServer server;
  TLogCapture log;
  TfrmMain form(StayingPlaces());
  form.EndsApplication = false;
  LauncherConfig._ClientPatchUrl = server.Url();
  form.RunTimerTimer();
  EXPECT_TRUE(form.Initialized);
  ExpectInOrder(log, {"initialize ResetComponentOffset begin", "initialize ResetComponentOffset end",
                      "initialize LoadImageresource begin", "initialize LoadImageresource end",
                      "initialize PaintChilds begin", "initialize PaintChilds end"});
  EXPECT_TRUE(form.UpdateTimer.Enabled());
  EXPECT_FALSE(form.RunTimer.Enabled());
  EXPECT_TRUE(form.UpdateRunning());
  EXPECT_EQ(form.UpdatePhase(), 0);
  const size_t lines = log.Lines().size();
  form.RunTimerTimer();
  const std::vector<std::string> after = log.Lines();
  EXPECT_EQ(std::count(after.begin() + static_cast<long>(lines), after.end(), "initialize PaintChilds begin"), 0);
}

TEST(Lifecycle, UpdateMessagesReachTheProgressDisplayThroughTheWindow) {
  TfrmMain form(StayingPlaces());
  form.EndsApplication = false;
  // No first tick, so no real run posts in between.
  form.RunTimer.SetEnabled(false);
  const HWND window = form.Handle();
  PostMessageA(window, UM_CURRENT_PROGRESS, 5, 50);
  PostMessageA(window, UM_TOTAL_PROGRESS, 7, 70);
  PostMessageA(window, UM_DOWNLOAD_SPEED, 1024000, 1000);
  PostMessageA(window, UM_STATUS_TEXT, NewPostedText("abc"), 3);
  PostMessageA(window, UM_UPDATE_ERROR, 100, 0);
  PumpFor(100);
  EXPECT_EQ(form.CurPos, 5);
  EXPECT_EQ(form.CurMax, 50);
  EXPECT_EQ(form.TotalPos, 7);
  EXPECT_EQ(form.TotalMax, 70);
  EXPECT_EQ(form.SpeedText, "\xCB\xD9\xB6\xC8 1000 KB/s");  // "速度 1000 KB/s"
  EXPECT_EQ(form.StatusText, "abc");
  EXPECT_TRUE(form.lbIngUpdate.Visible);

  // The launcher run ended failed: no self-update check, the ready state.
  form.LGStart.Enabled = false;
  PostMessageA(window, UM_UPDATE_DONE, 0, 1);
  PumpFor(100);
  EXPECT_TRUE(form.LGStart.Enabled);
  EXPECT_EQ(form.LBStatus.WideText(), u"\u66F4\u65B0\u5B8C\u6210");  // "更新完成"
  EXPECT_EQ(form.LGCurrent.Position(), form.LGCurrent.Max());
  EXPECT_EQ(form.LGPTotal.Position(), form.LGPTotal.Max());
  EXPECT_EQ(form.StatusText, "100%");
  EXPECT_EQ(form.SpeedText, "");
  EXPECT_EQ(form.TotalPos, 100);
}

TEST(Lifecycle, HidingTakesTheWindowOffTheTaskbarAndActivationBringsItBack) {
  TfrmMain form(StayingPlaces());
  form.EndsApplication = false;
  const HWND window = form.Handle();
  form.Show();
  PumpFor(50);
  ShowWindow(window, SW_HIDE);
  PumpFor(50);
  EXPECT_TRUE(form.Hidden);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)), static_cast<DWORD>(WS_EX_TOOLWINDOW));

  PostMessageA(window, UM_ACTIVATE, 0, 0);
  EXPECT_TRUE(PumpUntil(2000, [&] { return IsWindowVisible(window) != FALSE; }));
  EXPECT_FALSE(form.Hidden);

  ShowWindow(window, SW_MINIMIZE);
  PumpFor(50);
  ASSERT_TRUE(IsIconic(window));
  PostMessageA(window, UM_ACTIVATE, 0, 0);
  EXPECT_TRUE(PumpUntil(2000, [&] { return !IsIconic(window); }));
}

TEST(Lifecycle, ClosingDuringAHangingRequestDoesNotWaitForIt) {
  TConfigScope config;
  TSilentServer server;
  TfrmMain form(StayingPlaces());
  form.EndsApplication = false;
  LauncherConfig._ClientPatchUrl = server.Url();
  const HWND window = form.Handle();
  // Left hidden: Wine on a display without a window manager waits two
  // seconds for a shown window to be withdrawn when it is destroyed, which
  // would hide what this test measures.
  form.RunTimerTimer();
  ASSERT_TRUE(form.UpdateRunning());
  // The run shows its first status and then waits on the silent server.
  EXPECT_TRUE(PumpUntil(5000, [&] { return !form.StatusText.empty(); }));
  PumpFor(300);
  ASSERT_FALSE(form.lbIngUpdate.Visible) << "the request failed instead of hanging";

  // Handled at once, whatever paints are still queued.
  const DWORD before = GetTickCount();
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_LT(GetTickCount() - before, 1000u);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(form.UpdateRunning());
  // The cancelled thread ends in the background soon after.
  EXPECT_TRUE(WaitForRetired(5000));
}
