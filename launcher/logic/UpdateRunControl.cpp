#include "launcher/logic/UpdateRunControl.h"

#include <cmath>
#include <utility>

#include "common/Format.h"
#include "common/WindowMessages.h"
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

void TUpdateRunControl::StartUpdate() {
  // Only one run at a time; one still going would otherwise be waited for
  // when its object is replaced.
  StopRun();
  if (FClosed) return;
  FReady = false;
  TUpdateRunRequest request = UpdateRunRequest(FPhase, FBaseUrlOf(FPhase));
  FRepairing = FPhase == 0 && FRepairWanted;
  if (FRepairing) {
    request.Repair = true;
    FRepairWanted = false;
    // The player asked for it and watches it, whatever was skipped before.
    FSkipped = false;
    FRepairStatus.clear();
    FClosingText.clear();
  }
  FRun = FFactory(request);
  if (FRun && (FRepairing || FRun->UpdatePlan() != 0) && !FSkipped) FWindow.ApplyProgressLook();
  ShowRepairAvailability();
}

void TUpdateRunControl::RequestRepair() {
  if (FClosed) return;
  FRepairWanted = true;
  // Otherwise the client run that has not started yet, or the end of the
  // runs still going, takes it up.
  if (FReady && !FRun) StartRepair();
}

void TUpdateRunControl::StartRepair() {
  FPhase = 0;
  StartUpdate();
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
  // accepted, and a repair's end is shown once the launcher run has ended.
  const TAcceptedUpdate accepted = FRun ? FRun->AcceptedLauncherUpdate() : TAcceptedUpdate();
  const std::string closing = FRun ? FRun->ClosingText() : std::string();
  // The run has posted its last message and is ending: releasing it does
  // not wait for anything.
  FRun.reset();
  if (FClosed) return;
  if (FRepairing) {
    // A repair that did not go through keeps its own last status text:
    // never "100%" for files that may still be wrong.
    FClosingText = closing.empty() ? FRepairStatus : closing;
    FRepairing = false;
  }
  if (mode == 0) {
    // The launcher run follows the client run whatever its result.
    FPhase = 1;
    if (!FSkipped) FWindow.ApplyProgressLook();
    StartUpdate();
    return;
  }
  if (mode == 1) {
    if (completed == 1 && FWindow.SelfUpdateCheck(accepted)) return;
    // A repair asked for while the runs went starts now.
    if (FRepairWanted) {
      StartRepair();
      return;
    }
    ShowReady();
  }
  ShowRepairAvailability();
}

void TUpdateRunControl::ShowReady() {
  FReady = true;
  const bool repaired = !FClosingText.empty();
  FWindow.ApplyLoginLook();
  FWindow.RefreshServerList();
  FWindow.EnableStart();
  FWindow.SetStatusLabel(repaired ? FClosingText : "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9");  // "更新完成"
  FWindow.FillProgressBars();
  FWindow.SetSpeedText(std::string());
  FWindow.SetStatusText(repaired ? FClosingText : "100%");
  FWindow.SetCurrentProgress(100, 100);
  FWindow.SetTotalProgress(100, 100);
  if (repaired) FWindow.ShowStatusLine();
  FClosingText.clear();
}
