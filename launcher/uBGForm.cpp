#include "launcher/uBGForm.h"

#include <cstdlib>
#include <ctime>
#include <exception>

#include "common/Log.h"
#include "common/PathUtils.h"
#include "common/WindowMessages.h"
#include "install/SelfUpdateWin.h"
#include "launcher/logic/UpdateThreadRun.h"
#include "launcher/uBGFormServerView.h"
#include "net/cUdpSocket.h"
#include "net/uUDPEcho.h"
#include "package/PackageReader.h"
#include "platform/CodePage.h"
#include "platform/File.h"

// What the update run control sees of the window: the skin's looks, labels,
// bars and progress fields.
class TfrmMain::TUpdateLook : public TUpdateRunWindow {
public:
  explicit TUpdateLook(TfrmMain& form) : F(form) {}
  void ApplyProgressLook() override { F.ApplyProgressLook(); }
  void ApplyLoginLook() override {
    F.ApplyLoginLook();
    F.SyncNewsBrowser();
  }
  void ShowSkipLink() override { F.ShowSkipLink(); }
  bool SelfUpdateCheck(const TAcceptedUpdate& accepted) override {
    if (::SelfUpdateCheck(GetModuleFilePath(), WindowsSelfUpdateOperations(), accepted) != TSelfUpdateCheck::Started)
      return false;
    PostQuitMessage(0);
    return true;
  }
  void RefreshServerList() override { F.RefreshServerList(); }
  void EnableStart() override { F.LGStart.SetEnabled(true); }
  void SetStatusLabel(const std::string& text) override { F.LBStatus.SetWideText(Cp936ToUtf16(text)); }
  void FillProgressBars() override {
    F.LGCurrent.SetPosition(F.LGCurrent.Max());
    F.LGPTotal.SetPosition(F.LGPTotal.Max());
  }
  void SetCurrentProgress(int32_t position, int32_t maximum) override {
    F.CurPos = position;
    F.CurMax = maximum;
  }
  void SetTotalProgress(int32_t position, int32_t maximum) override {
    F.TotalPos = position;
    F.TotalMax = maximum;
  }
  void SetSpeedText(const std::string& text) override { F.SpeedText = text; }
  void SetStatusText(const std::string& text) override { F.StatusText = text; }
  void ShowStatusLine() override { F.ShowStatusLine(); }
  void SetRepairAvailable(bool available) override { F.EnableRepairEntry(available); }

private:
  TfrmMain& F;
};

TfrmMain::TfrmMain(HINSTANCE instance) : TfrmMain(TMainWindowPlaces{}, instance) {}

TfrmMain::TfrmMain(const TMainWindowPlaces& places, HINSTANCE instance)
    : TfrmMainSkin(instance),
      FPlaces(places),
      FLauncherFolder(places.launcherFolder.empty() ? ExtractFilePath(GetModuleFilePath()) : places.launcherFolder),
      FSink(std::make_shared<TWindowMessageSink>(Handle())),
      FUpdateLook(std::make_unique<TUpdateLook>(*this)) {
  FormCreate();
}

TfrmMain::~TfrmMain() {
  if (IsWindow(Handle())) DestroyWindow(Handle());
  FormDestroy();
}

// --- creation ---------------------------------------------------------------

void TfrmMain::FormCreate() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  UpdateTimer.SetEnabled(false);
  RunTimer.SetEnabled(false);
  LogError("Form create begin");
  // An error here (the package file cannot be read) is shown like any error
  // of an event handler; the remaining steps are skipped and the window
  // still comes up with its form defaults.
  try {
    CreateSteps();
  } catch (const std::exception& e) {
    ShowException(e.what());
  }
}

void TfrmMain::CreateSteps() {
  CreateDirectorySocket();
  initconfig();
  LinkSettings = LauncherConfig;
  LogError("form create initconfig end");
  RunTimer.SetEnabled(true);
  CreateGameList();
  CreateEchoService();
  CreateServerConfig();
  // The package's key goes with every run, so a release it does not sign is
  // refused by the client run and the launcher run alike.
  const TUpdateRunFactory runs = UpdateThreadRunFactory(FSink, LauncherUpdateEnvironment(LauncherConfig));
  FUpdate = std::make_unique<TUpdateRunControl>(*FUpdateLook, runs, [](int mode) {
    return mode == 0 ? LauncherConfig._ClientPatchUrl : LauncherConfig._LauncherPathUrl;
  });
  FUpdate->SetUpdatePhase(0);
  AddRepairEntry();
  LogError("form create wb create");
  CreateNewsBrowser();
  CreateServerPopup();
  ApplyUpdatingLook();
}

// The news browser, hidden until its first DocumentComplete or the login
// look; its place comes from the positions block on the first tick.
void TfrmMain::CreateNewsBrowser() {
  FNews = std::make_unique<TNewsBrowser>(Handle(), NewsBrowserRect);
  FNews->Navigate(LauncherConfig._NewsPageUrl);
}

void TfrmMain::SyncNewsBrowser() {
  if (FNews && NewsBrowserVisible) FNews->Show();
}

// --- RunTimer ---------------------------------------------------------------

void TfrmMain::RunTimerTimer() {
  if (Initialized) {
    GameWatchTick();
    return;
  }
  FirstRunTimerTick();
}

void TfrmMain::FirstRunTimerTick() {
  Initialized = true;
  LogError("initialize ResetComponentOffset begin");
  ResetComponentOffsetFrom(GetModuleFilePath(), PackageLocations);
  if (FNews) FNews->Host().SetBounds(NewsBrowserRect);
  LogError("initialize ResetComponentOffset end");
  ApplyUpdatingLook();
  LogError("initialize LoadImageresource begin");
  LoadImageresourceFrom(GetModuleFilePath(), PackageLocations);
  LogError("initialize LoadImageresource end");
  LogError("initialize PaintChilds begin");
  PaintChilds();
  LogError("initialize PaintChilds end");
  // A failed composition has switched RunTimer off and asked the
  // application to end: nothing more may start.
  if (!RunTimer.Enabled()) return;
  UpdateTimer.SetEnabled(true);
  RunTimer.SetEnabled(false);
  if (InstallLocationCheck()) StartUpdate();
}

// --- update runs ------------------------------------------------------------

void TfrmMain::StartUpdate() {
  if (FUpdate) FUpdate->StartUpdate();
}

void TfrmMain::UpdateSkipped() {
  if (FUpdate) FUpdate->Skip();
}

int TfrmMain::UpdatePhase() const { return FUpdate ? FUpdate->UpdatePhase() : 0; }
bool TfrmMain::UpdateRunning() const { return FUpdate && FUpdate->Running(); }

bool TfrmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == UM_ACTIVATE) {
    Activate();
    result = 0;
    return true;
  }
  if (HandleRepairMessage(message, wParam)) {
    result = 0;
    return true;
  }
  if (FUpdate && FUpdate->HandleMessage(message, wParam, lParam)) {
    result = 0;
    return true;
  }
  if (message == UM_DIRECTORY_DATA) {
    TakeDirectoryData();
    result = 0;
    return true;
  }
  if (message == UM_STATUS_TEXT) {
    // No run control (the creation steps failed): the text is still ours to free.
    TakePostedText(wParam);
    result = 0;
    return true;
  }
  return TfrmMainSkin::HandleMessage(message, wParam, lParam, result);
}

// --- activation, hiding, closing ----------------------------------------------

void TfrmMain::Activate() {
  if (Minimized()) {
    ShowWindow(Handle(), SW_RESTORE);
    return;
  }
  Show(SW_SHOW);
  Hidden = false;
  SetForegroundWindow(Handle());
}

void TfrmMain::FormHide() {
  Hidden = true;
  // The tool-window style alone takes the window off the taskbar.
  SetWindowLongA(Handle(), GWL_EXSTYLE, WS_EX_TOOLWINDOW);
}

// The update thread is cancelled through its terminate flag, which also
// closes its blocked request, and handed to a background release: the window
// never waits for a download to notice. The thread keeps its own share of the
// message sink, so nothing it touches is freed under it; the program entry
// waits a bounded moment for it at the end and otherwise ends without it.
bool TfrmMain::FormCloseQuery() {
  if (FUpdate) FUpdate->Close();
  return true;
}

void TfrmMain::FormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  FServerPopup.reset();
  FNews.reset();
  ReleaseBackground();
  // Posts of a thread still ending go nowhere from now on.
  if (FSink) FSink->Detach();
  FUpdate.reset();
  ReleaseGameList();
  // The echo worker writes round-trip times into the server records, so it
  // stops before the server configuration goes.
  StopEchoService();
  ReleaseServerConfig();
  CloseDirectorySocket();
}

