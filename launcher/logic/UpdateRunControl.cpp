#include "launcher/logic/UpdateRunControl.h"

#include <cmath>
#include <utility>

#include "common/Format.h"
#include "common/WindowMessages.h"
#include "update/run/UpdateTexts.h"
#include "update/run/uLaunchThread.h"

TUpdateRunRequest UpdateRunRequest(int mode, const std::string& baseUrl) {
  TUpdateRunRequest request;
  request.Mode = mode;
  request.StateFile = StateFileName(mode);
  request.ManifestName = mode == 0 ? ClientManifestName : LauncherManifestName;
  request.BaseUrl = baseUrl;
  return request;
}

std::string SpeedTextOf(uint32_t bytes, int32_t elapsedMs) {
  if (elapsedMs <= 0) return std::string();
  // nearbyint rounds in the default mode, to nearest with halves to even.
  const double kbPerSecond = std::nearbyint(static_cast<double>(bytes) / elapsedMs * 1000.0 / 1024.0);
  // Up to 4 GiB in one millisecond does not fit an int; the text is the same.
  return Format("\xCB\xD9\xB6\xC8 %lld KB/s", static_cast<long long>(kbPerSecond));  // "速度 %d KB/s"
}

TUpdateRunControl::TUpdateRunControl(TUpdateRunWindow& window, TUpdateRunFactory factory, TBaseUrlOf baseUrlOf)
    : FWindow(window), FFactory(std::move(factory)), FBaseUrlOf(std::move(baseUrlOf)) {}

TUpdateRunControl::~TUpdateRunControl() { StopRun(); }

void TUpdateRunControl::StartUpdate() { StartRun(false); }

void TUpdateRunControl::StartRun(bool repair) {
  // Only one run at a time; one still going would otherwise be waited for
  // when its object is replaced.
  StopRun();
  if (FClosed) return;
  FReady = false;
  FRepairing = repair;
  TUpdateRunRequest request = UpdateRunRequest(FPhase, FBaseUrlOf(FPhase));
  request.Repair = repair;
  FRun = FFactory(request);
  if (FRun && (repair || FRun->UpdatePlan() != 0) && !FSkipped) FWindow.ApplyProgressLook();
  ShowRepairAvailability();
}

void TUpdateRunControl::RequestRepair() {
  if (FClosed) return;
  FRepairWanted = true;
  // Otherwise the end of the update runs takes it up.
  if (FReady && !FRun) StartRepair();
}

void TUpdateRunControl::StartRepair() {
  FRepairWanted = false;
  // The player asked for it and watches it, whatever was skipped before.
  FSkipped = false;
  FRepairStatus.clear();
  FPhase = 0;
  StartRun(true);
}

void TUpdateRunControl::ShowRepairAvailability() { FWindow.SetRepairAvailable(!FRun && !FClosed); }

void TUpdateRunControl::Close() {
  FClosed = true;
  StopRun();
}

void TUpdateRunControl::StopRun() {
  if (!FRun) return;
  FRun->Cancel();
  FRun.reset();
}

bool TUpdateRunControl::HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // Positions and maxima travel as 32-bit values whatever the pointer size.
  const auto low32 = [](auto value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); };
  switch (message) {
    case UM_CURRENT_PROGRESS:
      FWindow.SetCurrentProgress(low32(wParam), low32(lParam));
      return true;
    case UM_TOTAL_PROGRESS:
      FWindow.SetTotalProgress(low32(wParam), low32(lParam));
      return true;
    case UM_DOWNLOAD_SPEED:
      if (low32(lParam) > 0) FWindow.SetSpeedText(SpeedTextOf(static_cast<uint32_t>(wParam), low32(lParam)));
      return true;
    case UM_STATUS_TEXT: {
      // The window owns the buffer from here on, whatever happens next.
      std::string text = TakePostedText(wParam);
      if (lParam >= 0 && static_cast<size_t>(lParam) < text.size()) text.resize(static_cast<size_t>(lParam));
      if (FRepairing) FRepairStatus = text;
      FWindow.SetStatusText(text);
      return true;
    }
    case UM_UPDATE_ERROR:
      if (!FSkipped) FWindow.ShowSkipLink();
      return true;
    case UM_UPDATE_DONE:
      UpdateDone(wParam, lParam);
      return true;
    default:
      return false;
  }
}

void TUpdateRunControl::UpdateDone(uintptr_t completed, intptr_t mode) {
  // Taken before the run goes: the self-update check starts only what it
  // accepted, and the end of a repair shows its closing text.
  const TAcceptedUpdate accepted = FRun ? FRun->AcceptedLauncherUpdate() : TAcceptedUpdate();
  const std::string closing = FRun ? FRun->ClosingText() : std::string();
  // The run has posted its last message and is ending: releasing it does
  // not wait for anything.
  FRun.reset();
  if (FClosed) return;
  if (FRepairing) {
    // The last run: its log is the one the game folder keeps. Without a
    // closing text files may still be wrong, never "100%": one that went
    // through (files could not be replaced) says the update failed, one
    // that did not keeps its own last status text, which says why. One
    // asked again while it ran is done with it.
    FRepairing = false;
    FRepairWanted = false;
    if (!closing.empty()) ShowReady(closing);
    else ShowReady(completed == 1 ? std::string(UpdateText::UpdateFailed) : FRepairStatus);
  } else if (mode == 0) {
    // The launcher run follows the client run whatever its result.
    FPhase = 1;
    if (!FSkipped) FWindow.ApplyProgressLook();
    StartUpdate();
    return;
  } else if (mode == 1) {
    if (completed == 1 && FWindow.SelfUpdateCheck(accepted)) return;
    // A repair asked for while the runs went follows them.
    if (FRepairWanted) {
      StartRepair();
      return;
    }
    ShowReady();
  }
  ShowRepairAvailability();
}

void TUpdateRunControl::ShowReady(const std::string& closing) {
  FReady = true;
  FWindow.ApplyLoginLook();
  FWindow.RefreshServerList();
  FWindow.EnableStart();
  FWindow.SetStatusLabel(closing.empty() ? "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9" : closing);  // "更新完成"
  FWindow.FillProgressBars();
  FWindow.SetSpeedText(std::string());
  FWindow.SetStatusText(closing.empty() ? "100%" : closing);
  FWindow.SetCurrentProgress(100, 100);
  FWindow.SetTotalProgress(100, 100);
  // The login look hides the status line; a repair's end stays on it.
  if (!closing.empty()) FWindow.ShowStatusLine();
}
