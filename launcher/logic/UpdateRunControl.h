// The control of the update runs: the client run (mode 0) first, then the
// launcher run (mode 1), then the self-update check and the login look. It
// turns the update thread's posted messages into the progress display and
// stops a running thread without waiting when the window closes. A repair
// the player asks for is a client run that checks every file by its content;
// it never runs beside another run. The window is reached through
// TUpdateRunWindow, the thread through TUpdateRun, so the whole sequence
// runs without a window or a network.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "install/logic/SelfUpdate.h"

// What the run control asks of the main window. Texts are code page 936.
class TUpdateRunWindow {
public:
  virtual ~TUpdateRunWindow() = default;
  virtual void ApplyProgressLook() = 0;
  virtual void ApplyLoginLook() = 0;
  // The skip link "跳过更新".
  virtual void ShowSkipLink() = 0;
  // Compares the program with its ".update" copy and starts the copy when
  // they differ and it is what the launcher run accepted; true when it
  // asked the application to end.
  virtual bool SelfUpdateCheck(const TAcceptedUpdate& accepted) = 0;
  virtual void RefreshServerList() = 0;
  virtual void EnableStart() = 0;
  virtual void SetStatusLabel(const std::string& text) = 0;
  // Both progress bars at their maxima.
  virtual void FillProgressBars() = 0;
  // The progress display's fields.
  virtual void SetCurrentProgress(int32_t position, int32_t maximum) = 0;
  virtual void SetTotalProgress(int32_t position, int32_t maximum) = 0;
  virtual void SetSpeedText(const std::string& text) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // The status line in the login look, where it is otherwise hidden: the
  // end of a repair stays there.
  virtual void ShowStatusLine() = 0;
  // Whether the player may ask for a repair now (no run is going).
  virtual void SetRepairAvailable(bool available) = 0;
};

// What a run is started with.
struct TUpdateRunRequest {
  int Mode = 0;
  std::string StateFile;     // "data\update%d.local" of the mode
  std::string ManifestName;  // "update.json" or "updateL.json"
  std::string BaseUrl;       // _ClientPatchUrl or _LauncherPathUrl
  bool Repair = false;       // every file checked by its content (mode 0 only)
};

// The request of a mode (0 the client run, 1 the launcher run) with that
// mode's base URL.
TUpdateRunRequest UpdateRunRequest(int mode, const std::string& baseUrl);

// A started update run.
class TUpdateRun {
public:
  // Releases a run that has reported its end; it ends at once.
  virtual ~TUpdateRun() = default;
  // The "UpdateNow" plan the run read when it was created.
  virtual int UpdatePlan() const = 0;
  // The launcher entries of the manifest the run accepted, read once it has
  // reported its end; none by default.
  virtual TAcceptedUpdate AcceptedLauncherUpdate() const { return TAcceptedUpdate(); }
  // The status line text the run ends with, read once it has reported its
  // end; empty when its own last status text stays.
  virtual std::string ClosingText() const { return std::string(); }
  // Stops the run without waiting for it; the object may be destroyed
  // right afterwards, whatever the run is doing.
  virtual void Cancel() = 0;
};

using TUpdateRunFactory = std::function<std::unique_ptr<TUpdateRun>(const TUpdateRunRequest&)>;
// The base address of a mode's run, read when the run starts.
using TBaseUrlOf = std::function<std::string(int mode)>;

class TUpdateRunControl {
public:
  TUpdateRunControl(TUpdateRunWindow& window, TUpdateRunFactory factory, TBaseUrlOf baseUrlOf);
  ~TUpdateRunControl();
  TUpdateRunControl(const TUpdateRunControl&) = delete;
  TUpdateRunControl& operator=(const TUpdateRunControl&) = delete;

  // The mode of the current run (0 or 1).
  int UpdatePhase() const { return FPhase; }
  void SetUpdatePhase(int phase) { FPhase = phase; }
  bool Running() const { return FRun != nullptr; }

  // Starts the run of UpdatePhase; a run still going is stopped first.
  void StartUpdate();
  // The player asks for a repair (the window's menu entry, or the /repair
  // switch): a client run that checks every file by its content. It starts
  // at once when the runs have ended, otherwise once they have (after the
  // self-update check), so it never runs beside another run and its log is
  // the last one. Its end shows the login look with its closing text.
  void RequestRepair();
  // The update thread's messages; false for any other message.
  bool HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // The window closes: a running run is stopped without waiting, and no
  // run starts any more (an end of run already queued starts nothing).
  // Posted texts are still taken and freed.
  void Close();
  bool Closed() const { return FClosed; }
  // The player took the skip link: the login look stays up while the runs
  // go on, so neither the progress look nor the skip link comes back; the
  // end of the launcher run still shows the ready state.
  void Skip() { FSkipped = true; }
  bool Skipped() const { return FSkipped; }

private:
  void UpdateDone(uintptr_t completed, intptr_t mode);
  // The login look; `closing` is a repair's closing text (empty after the
  // update runs: "更新完成" and "100%").
  void ShowReady(const std::string& closing = std::string());
  void StopRun();
  void StartRun(bool repair);
  void StartRepair();
  // Tells the window whether a repair may be asked for.
  void ShowRepairAvailability();

  TUpdateRunWindow& FWindow;
  TUpdateRunFactory FFactory;
  TBaseUrlOf FBaseUrlOf;
  int FPhase = 0;
  bool FClosed = false;
  bool FSkipped = false;
  // The runs have ended and the login look is up.
  bool FReady = false;
  bool FRepairWanted = false;
  // The current run is a repair.
  bool FRepairing = false;
  // The last status text of the repair run.
  std::string FRepairStatus;
  std::unique_ptr<TUpdateRun> FRun;
};

// "速度 %d KB/s" for wParam bytes in lParam milliseconds: bytes / ms * 1000 /
// 1024 in floating point, rounded to nearest with halves to even. Empty when
// lParam is not positive (the speed text then stays as it is).
std::string SpeedTextOf(uint32_t bytes, int32_t elapsedMs);
