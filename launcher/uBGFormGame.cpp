// TfrmMain's side of the game: the start button, GameList and the game watch
// on the later RunTimer ticks, and the install-location check of the first
// tick.
#include "launcher/uBGForm.h"

#include "common/Log.h"
#include "common/PathUtils.h"
#include "install/InstallCheck.h"
#include "install/uInstallForm.h"
#include "package/LauncherConfig.h"
#include "platform/ProcessKill.h"

// --- GameList ----------------------------------------------------------------

void TfrmMain::CreateGameList() { FGameList = std::make_unique<TGameList>(FProcesses); }

// Closes the handles of every client still listed; the clients keep running.
void TfrmMain::ReleaseGameList() { FGameList.reset(); }

// --- the start button --------------------------------------------------------

void TfrmMain::LGStartClick() {
  if (!FGameList) return;
  TLaunchSettings settings = LauncherLaunchSettings();
  settings.launcherFolder = FLauncherFolder;
  // A copy: the launch reads a record that no reload or echo update changes.
  const TServerInfo server = CurrentServer();
  const TLaunchOutcome outcome = LaunchGame(server, settings, FProcesses, ProcessRandomIndex(), *FGameList);
  if (outcome.result == TLaunchResult::StartFailed) {
    ShowMessageBox(GameStartFailedText, GameStartFailedCaption, MB_ICONERROR);
    return;
  }
  if (outcome.result != TLaunchResult::Started) return;
  // The watch looks after the new entry.
  RunTimer.SetEnabled(true);
  // _AutoClose: the close takes effect once this handler has returned.
  if (outcome.closeWindow) PostMessageA(Handle(), WM_CLOSE, 0, 0);
  // "lastserver" could not be written; the client runs all the same.
  if (!outcome.settingsError.empty()) ShowException(outcome.settingsError);
}

// --- the game watch ------------------------------------------------------------

void TfrmMain::GameWatchTick() {
  if (!FGameList) {
    RunTimer.SetEnabled(false);
    return;
  }
  FGameList->WatchOnce();
  const TWatchDecision decision = GameWatchDecision(FGameList->Empty(), Hidden, CurrentServer().id);
  if (decision.enableStart) LGStart.SetEnabled(true);
  if (decision.stopTimer) RunTimer.SetEnabled(false);
  // Hidden and the last client gone: the launcher ends.
  if (decision.closeWindow) {
    RunTimer.SetEnabled(false);
    PostMessageA(Handle(), WM_CLOSE, 0, 0);
  }
}

// --- the install location ----------------------------------------------------

bool TfrmMain::AskInstallFolder(std::string& folder) { return AskInstallFolderDialog(Handle(), folder); }

bool TfrmMain::InstallLocationCheck() {
  if (!FPlaces.runInstallCheck) return true;
  TInstallCheckInputs inputs =
      LauncherInstallCheckInputs(LauncherConfig._LauName, [this](std::string& folder) { return AskInstallFolder(folder); });
  if (!FPlaces.programPath.empty()) inputs.programPath = FPlaces.programPath;
  switch (RunInstallLocationCheck(inputs)) {
    case TInstallCheckResult::GoOn:
      return true;
    case TInstallCheckResult::HandedOver:
      LogError("install location: handed over to the copy in the game folder");
      if (EndsApplication) PostQuitMessage(0);
      return false;
    case TInstallCheckResult::Cancelled:
      LogError("install location: no game folder given");
      // Every process of this program's image name ends, this one included.
      if (FPlaces.killOnInstallCancel) KillProcessesByName(ExtractFileName(inputs.programPath));
      if (EndsApplication) PostQuitMessage(0);
      return false;
  }
  return true;
}
