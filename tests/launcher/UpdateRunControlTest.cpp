#include "launcher/logic/UpdateRunControl.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/WindowMessages.h"

namespace {

// Records every call of the run control, in order.
class TFakeWindow : public TUpdateRunWindow {
public:
  std::vector<std::string> Calls;
  bool AskToEnd = false;
  int32_t CurPos = -1, CurMax = -1, TotalPos = -1, TotalMax = -1;
  std::string SpeedText = "unchanged", StatusText, StatusLabel;

  void ApplyProgressLook() override { Calls.push_back("progress look"); }
  void ApplyLoginLook() override { Calls.push_back("login look"); }
  void ShowSkipLink() override { Calls.push_back("skip link"); }
  bool SelfUpdateCheck(const TAcceptedUpdate& accepted) override {
    Calls.push_back("self-update check");
    Accepted = accepted;
    return AskToEnd;
  }
  TAcceptedUpdate Accepted;
  void RefreshServerList() override { Calls.push_back("refresh server list"); }
  void EnableStart() override { Calls.push_back("enable start"); }
  void SetStatusLabel(const std::string& text) override { StatusLabel = text; }
  void FillProgressBars() override { Calls.push_back("fill bars"); }
  void SetCurrentProgress(int32_t position, int32_t maximum) override { CurPos = position, CurMax = maximum; }
  void SetTotalProgress(int32_t position, int32_t maximum) override { TotalPos = position, TotalMax = maximum; }
  void SetSpeedText(const std::string& text) override { SpeedText = text; }
  void SetStatusText(const std::string& text) override { StatusText = text; }
  void ShowStatusLine() override { Calls.push_back("status line"); }
  // Every availability of the repair entry, in order.
  std::vector<bool> RepairAvailable;
  void SetRepairAvailable(bool available) override { RepairAvailable.push_back(available); }
};

struct TRunLog {
  std::vector<TUpdateRunRequest> Started;
  int Cancelled = 0;
  int Released = 0;
  int Plan = 0;
  TAcceptedUpdate Accepted;
  std::string Closing;
};

class TFakeRun : public TUpdateRun {
public:
  explicit TFakeRun(TRunLog& log) : FLog(log) {}
  ~TFakeRun() override { ++FLog.Released; }
  int UpdatePlan() const override { return FLog.Plan; }
  TAcceptedUpdate AcceptedLauncherUpdate() const override { return FLog.Accepted; }
  std::string ClosingText() const override { return FLog.Closing; }
  void Cancel() override { ++FLog.Cancelled; }

private:
  TRunLog& FLog;
};

class UpdateRunControlTest : public ::testing::Test {
protected:
  TFakeWindow window;
  TRunLog runs;
  TUpdateRunControl control{window,
                            [this](const TUpdateRunRequest& request) {
                              runs.Started.push_back(request);
                              return std::make_unique<TFakeRun>(runs);
                            },
                            [](int mode) {
                              return mode == 0 ? "http://client.example/patch" : "http://client.example/launcher";
                            }};

  void Done(uintptr_t completed, intptr_t mode) { control.HandleMessage(UM_UPDATE_DONE, completed, mode); }
};

const std::string Speed1000 = "\xCB\xD9\xB6\xC8 1000 KB/s";  // "速度 1000 KB/s"

}  // namespace

TEST(SpeedText, BytesPerMillisecondAsKilobytesPerSecondRoundedHalfToEven) {
  EXPECT_EQ(SpeedTextOf(1024000, 1000), Speed1000);
  // 512 B in 1000 ms is 0.5 KB/s, 1536 B 1.5 KB/s and 2560 B 2.5 KB/s.
  EXPECT_EQ(SpeedTextOf(512, 1000), "\xCB\xD9\xB6\xC8 0 KB/s");
  EXPECT_EQ(SpeedTextOf(1536, 1000), "\xCB\xD9\xB6\xC8 2 KB/s");
  EXPECT_EQ(SpeedTextOf(2560, 1000), "\xCB\xD9\xB6\xC8 2 KB/s");
  EXPECT_EQ(SpeedTextOf(1537, 1000), "\xCB\xD9\xB6\xC8 2 KB/s");
  // The largest count in one millisecond does not wrap into a negative number.
  EXPECT_EQ(SpeedTextOf(0xFFFFFFFFu, 1), "\xCB\xD9\xB6\xC8 4194303999 KB/s");
  EXPECT_EQ(SpeedTextOf(1000, 0), "");
  EXPECT_EQ(SpeedTextOf(1000, -5), "");
}

TEST_F(UpdateRunControlTest, ProgressMessagesFillTheDisplayFields) {
  EXPECT_TRUE(control.HandleMessage(UM_CURRENT_PROGRESS, 10, 20));
  EXPECT_TRUE(control.HandleMessage(UM_TOTAL_PROGRESS, 300, 4000));
  EXPECT_EQ(window.CurPos, 10);
  EXPECT_EQ(window.CurMax, 20);
  EXPECT_EQ(window.TotalPos, 300);
  EXPECT_EQ(window.TotalMax, 4000);
  // Byte counts past 2 GiB arrive as their low 32 bits.
  control.HandleMessage(UM_TOTAL_PROGRESS, 0x80000001u, 0xFFFFFFFFu);
  EXPECT_EQ(window.TotalPos, static_cast<int32_t>(0x80000001u));
  EXPECT_EQ(window.TotalMax, -1);
  EXPECT_FALSE(control.HandleMessage(UM_ACTIVATE, 0, 0));
  EXPECT_TRUE(window.Calls.empty());
}

TEST_F(UpdateRunControlTest, SpeedChangesOnlyForAPositiveElapsedTime) {
  control.HandleMessage(UM_DOWNLOAD_SPEED, 1024000, 0);
  EXPECT_EQ(window.SpeedText, "unchanged");
  control.HandleMessage(UM_DOWNLOAD_SPEED, 1024000, 1000);
  EXPECT_EQ(window.SpeedText, Speed1000);
  control.HandleMessage(UM_DOWNLOAD_SPEED, 0, 0);
  EXPECT_EQ(window.SpeedText, Speed1000);
}

TEST_F(UpdateRunControlTest, StatusTextIsTakenFromThePostedBuffer) {
  const std::string text = "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8 a.pak 1/3";  // "正在下载 a.pak 1/3"
  control.HandleMessage(UM_STATUS_TEXT, NewPostedText(text), static_cast<intptr_t>(text.size()));
  EXPECT_EQ(window.StatusText, text);
  // A length shorter than the text cuts it; the buffer is freed either way
  // (the sanitizer build would report it otherwise).
  control.HandleMessage(UM_STATUS_TEXT, NewPostedText("abcdef"), 3);
  EXPECT_EQ(window.StatusText, "abc");
  control.HandleMessage(UM_STATUS_TEXT, 0, 0);
  EXPECT_EQ(window.StatusText, "");
}

TEST_F(UpdateRunControlTest, UpdateErrorShowsTheSkipLink) {
  control.HandleMessage(UM_UPDATE_ERROR, 100, 0);
  EXPECT_EQ(window.Calls, std::vector<std::string>{"skip link"});
}

TEST_F(UpdateRunControlTest, StartUpdateStartsTheRunOfThePhaseAndShowsProgressForAPlan) {
  control.StartUpdate();
  ASSERT_EQ(runs.Started.size(), 1u);
  EXPECT_EQ(runs.Started[0].Mode, 0);
  EXPECT_EQ(runs.Started[0].BaseUrl, "http://client.example/patch");
  EXPECT_EQ(runs.Started[0].ManifestName, "update.json");
  EXPECT_EQ(runs.Started[0].StateFile, "data\\update0.local");
  EXPECT_TRUE(window.Calls.empty());  // plan 0: the look stays

  runs.Plan = 2;
  control.StartUpdate();
  // The run still going is stopped without waiting before the new one starts.
  EXPECT_EQ(runs.Cancelled, 1);
  EXPECT_EQ(runs.Released, 1);
  EXPECT_EQ(window.Calls, std::vector<std::string>{"progress look"});
}

TEST_F(UpdateRunControlTest, ClientRunEndStartsTheLauncherRunWhateverItsResult) {
  for (uintptr_t completed : {0u, 1u}) {
    control.SetUpdatePhase(0);
    control.StartUpdate();
    window.Calls.clear();
    runs.Started.clear();
    const int released = runs.Released, cancelled = runs.Cancelled;
    Done(completed, 0);
    EXPECT_EQ(runs.Released, released + 1);
    EXPECT_EQ(runs.Cancelled, cancelled);  // a finished run is released, not cancelled
    EXPECT_EQ(control.UpdatePhase(), 1);
    ASSERT_EQ(runs.Started.size(), 1u);
    EXPECT_EQ(runs.Started[0].Mode, 1);
    EXPECT_EQ(runs.Started[0].ManifestName, "updateL.json");
    EXPECT_EQ(runs.Started[0].StateFile, "data\\update1.local");
    EXPECT_EQ(runs.Started[0].BaseUrl, "http://client.example/launcher");
    EXPECT_EQ(window.Calls, std::vector<std::string>{"progress look"});
  }
}

TEST_F(UpdateRunControlTest, CompletedLauncherRunChecksSelfUpdateThenShowsTheLoginLook) {
  // The check gets what the run accepted, taken before the run is released.
  runs.Accepted.Signed = true;
  runs.Accepted.Entries = {{"0123456789abcdef0123456789abcdef", std::string(64, 'a')}};
  control.SetUpdatePhase(1);
  control.StartUpdate();
  control.HandleMessage(UM_DOWNLOAD_SPEED, 1024000, 1000);
  Done(1, 1);
  EXPECT_FALSE(control.Running());
  EXPECT_TRUE(window.Accepted.Signed);
  ASSERT_EQ(window.Accepted.Entries.size(), 1u);
  EXPECT_EQ(window.Accepted.Entries[0].Md5, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(window.Accepted.Entries[0].Sha256, std::string(64, 'a'));
  EXPECT_EQ(window.Calls, (std::vector<std::string>{"self-update check", "login look", "refresh server list",
                                                    "enable start", "fill bars"}));
  EXPECT_EQ(window.StatusLabel, "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9");  // "更新完成"
  EXPECT_EQ(window.StatusText, "100%");
  EXPECT_EQ(window.SpeedText, "");
  EXPECT_EQ(window.CurPos, 100);
  EXPECT_EQ(window.CurMax, 100);
  EXPECT_EQ(window.TotalPos, 100);
  EXPECT_EQ(window.TotalMax, 100);
  EXPECT_EQ(runs.Started.size(), 1u);
}

TEST_F(UpdateRunControlTest, FailedLauncherRunSkipsTheCheckButReachesTheLoginLook) {
  Done(0, 1);
  EXPECT_EQ(window.Calls, (std::vector<std::string>{"login look", "refresh server list", "enable start",
                                                    "fill bars"}));
}

TEST_F(UpdateRunControlTest, SelfUpdateAskingToEndStopsBeforeTheLoginLook) {
  window.AskToEnd = true;
  Done(1, 1);
  EXPECT_EQ(window.Calls, std::vector<std::string>{"self-update check"});
  EXPECT_EQ(window.StatusText, "");
}

// After the skip link the login look stays: no event of the runs brings the
// progress look or the skip link back; the launcher run's end still shows
// the ready state with the start button enabled.
TEST_F(UpdateRunControlTest, SkippedRunsKeepTheLoginLook) {
  runs.Plan = 2;
  control.StartUpdate();
  ASSERT_EQ(window.Calls, std::vector<std::string>{"progress look"});
  window.Calls.clear();
  control.Skip();
  control.HandleMessage(UM_UPDATE_ERROR, 100, 0);
  Done(0, 0);
  EXPECT_EQ(runs.Started.size(), 2u);  // the launcher run, with a plan too
  control.HandleMessage(UM_UPDATE_ERROR, 100, 0);
  EXPECT_TRUE(window.Calls.empty());
  Done(0, 1);
  EXPECT_EQ(window.Calls, (std::vector<std::string>{"login look", "refresh server list", "enable start",
                                                    "fill bars"}));
  EXPECT_TRUE(control.Skipped());
}

TEST_F(UpdateRunControlTest, OtherModesOnlyReleaseTheRun) {
  control.StartUpdate();
  Done(1, 7);
  EXPECT_EQ(runs.Released, 1);
  EXPECT_TRUE(window.Calls.empty());
  EXPECT_EQ(runs.Started.size(), 1u);
}

TEST_F(UpdateRunControlTest, CloseCancelsARunningRunAndReleasesIt) {
  control.StartUpdate();
  control.Close();
  EXPECT_EQ(runs.Cancelled, 1);
  EXPECT_EQ(runs.Released, 1);
  EXPECT_FALSE(control.Running());
  control.Close();
  EXPECT_EQ(runs.Cancelled, 1);
}

TEST_F(UpdateRunControlTest, AfterCloseNothingStartsButPostedTextsAreStillFreed) {
  control.StartUpdate();
  control.Close();
  // An end of run posted just before the cancel arrives after it.
  Done(1, 0);
  control.StartUpdate();
  EXPECT_EQ(runs.Started.size(), 1u);
  EXPECT_TRUE(window.Calls.empty());
  control.HandleMessage(UM_STATUS_TEXT, NewPostedText("late"), 4);
  EXPECT_EQ(window.StatusText, "late");
}

namespace {

const std::string Checking = "\xD5\xFD\xD4\xDA\xD0\xA3\xD1\xE9 data\\pack.dat 12/340";  // "正在校验 data\pack.dat 12/340"
const std::string Repaired1 = "\xD0\xA3\xD1\xE9\xCD\xEA\xB3\xC9\xA3\xAC\xD2\xD1\xD0\xDE\xB8\xB4 1 \xB8\xF6\xCE\xC4\xBC\xFE";  // "校验完成，已修复 1 个文件"
const std::string ManifestFailed = "#100 : \xCF\xC2\xD4\xD8\xC5\xE4\xD6\xC3\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC";  // "#100 : 下载配置文件失败"
const std::string UpdateFailed =
    "\xB8\xFC\xD0\xC2\xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF3\xD4\xD9\xCA\xD4";  // "更新失败，请稍后再试"
const std::string UpdateDone = "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9";  // "更新完成"

// One rule of the repair: what happens, and what the runs and the window see.
struct TRepairRow {
  const char* Rule;
  // "ask" (the player asks for a repair), "start" (the first tick's
  // StartUpdate), "status:<text>", "closing:<text>" (what the current run
  // ends with), "done0" / "done1" (the run of that mode reports its end,
  // completed), "failed0" (the client run's end, failed), "skip", "close".
  std::vector<std::string> Steps;
  std::vector<std::string> Started;  // "client", "repair", "launcher"
  std::vector<std::string> Calls;
  std::vector<bool> RepairAvailable;
  std::string StatusText, StatusLabel;
};

std::string RunKind(const TUpdateRunRequest& request) {
  if (request.Mode == 1) return request.Repair ? "launcher repair" : "launcher";
  return request.Repair ? "repair" : "client";
}

}  // namespace

TEST_F(UpdateRunControlTest, RepairRules) {
  // The end of the launcher run, and the end of a repair from its start.
  const std::vector<std::string> updated = {"self-update check", "login look", "refresh server list", "enable start",
                                            "fill bars"};
  const std::vector<std::string> repaired = {"progress look", "login look", "refresh server list", "enable start",
                                             "fill bars",     "status line"};
  auto join = [](std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> calls;
    for (const std::vector<std::string>& part : parts) calls.insert(calls.end(), part.begin(), part.end());
    return calls;
  };
  const std::vector<TRepairRow> rows = {
      // Never beside a run: asked before or during the update runs (twice
      // here), one repair follows them, after the self-update check, and
      // shows its progress whatever the plan.
      {"AskedBeforeTheReadyStateItFollowsTheUpdateRuns",
       {"ask", "start", "ask", "done0", "done1"},
       {"client", "launcher", "repair"},
       {"progress look", "self-update check", "progress look"},
       {false, false, false},
       "",
       ""},
      // Asked when ready it starts at once; its texts reach the status line
      // and its end is the login look with the closing text on a shown
      // status line. Asked again while it runs, it is not run twice.
      {"TheEndShowsTheClosingTextInTheLoginLook",
       {"start", "done0", "done1", "ask", "status:" + Checking, "ask", "closing:" + Repaired1, "done0"},
       {"client", "launcher", "repair"},
       join({{"progress look"}, updated, repaired}),
       {false, false, true, false, true},
       Repaired1,
       Repaired1},
      // No closing text, never "100%": a run that did not go through (no
      // manifest) keeps its own last text, which says why ...
      {"ARepairThatDidNotGoThroughKeepsItsLastText",
       {"start", "done0", "done1", "ask", "status:" + Checking, "status:" + ManifestFailed, "failed0"},
       {"client", "launcher", "repair"},
       join({{"progress look"}, updated, repaired}),
       {false, false, true, false, true},
       ManifestFailed,
       ManifestFailed},
      // ... one that went through with files still wrong says the update failed.
      {"ARepairLeavingFilesWrongSaysTheUpdateFailed",
       {"start", "done0", "done1", "ask", "status:" + Checking, "done0"},
       {"client", "launcher", "repair"},
       join({{"progress look"}, updated, repaired}),
       {false, false, true, false, true},
       UpdateFailed,
       UpdateFailed},
      // The skip link does not hide the progress of a repair the player asks for.
      {"AskedAfterTheSkipLinkItShowsItsProgress",
       {"start", "skip", "done0", "done1", "ask"},
       {"client", "launcher", "repair"},
       join({updated, {"progress look"}}),
       {false, false, true, false},
       "100%",
       UpdateDone},
      // An update's own end stays as it was.
      {"AnUpdateEndsWithItsOwnTexts", {"start", "closing:", "done0", "done1"}, {"client", "launcher"},
       join({{"progress look"}, updated}), {false, false, true}, "100%", UpdateDone},
      {"AfterCloseNoRepairStarts", {"start", "close", "ask", "done0", "done1"}, {"client"}, {}, {false}, "", ""},
  };
  for (const TRepairRow& row : rows) {
    SCOPED_TRACE(row.Rule);
    TFakeWindow w;
    TRunLog log;
    TUpdateRunControl c{w,
                        [&log](const TUpdateRunRequest& request) {
                          log.Started.push_back(request);
                          return std::make_unique<TFakeRun>(log);
                        },
                        [](int) { return std::string("http://client.example/"); }};
    for (const std::string& step : row.Steps) {
      const size_t colon = step.find(':');
      const std::string verb = step.substr(0, colon), text = colon == std::string::npos ? "" : step.substr(colon + 1);
      if (verb == "ask") c.RequestRepair();
      else if (verb == "start") c.StartUpdate();
      else if (verb == "status") c.HandleMessage(UM_STATUS_TEXT, NewPostedText(text), static_cast<intptr_t>(text.size()));
      else if (verb == "closing") log.Closing = text;
      else if (verb == "done0") c.HandleMessage(UM_UPDATE_DONE, 1, 0);
      else if (verb == "failed0") c.HandleMessage(UM_UPDATE_DONE, 0, 0);
      else if (verb == "done1") c.HandleMessage(UM_UPDATE_DONE, 1, 1);
      else if (verb == "skip") c.Skip();
      else if (verb == "close") c.Close();
      else FAIL() << "unknown step " << step;
    }
    std::vector<std::string> started;
    for (const TUpdateRunRequest& request : log.Started) started.push_back(RunKind(request));
    EXPECT_EQ(started, row.Started);
    EXPECT_EQ(w.Calls, row.Calls);
    EXPECT_EQ(w.RepairAvailable, row.RepairAvailable);
    if (!row.StatusText.empty()) {
      EXPECT_EQ(w.StatusText, row.StatusText);
    }
    EXPECT_EQ(w.StatusLabel, row.StatusLabel);
  }
}
