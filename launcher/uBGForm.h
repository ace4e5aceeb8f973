// Unit uBGForm: the launcher's main window TfrmMain. Its skin, controls and
// window procedure come from TfrmMainSkin; this class adds the lifecycle: the
// creation steps, the deferred set-up on the first RunTimer tick, the
// activation by a second instance, hiding, closing and releasing, and the
// control of the update runs.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "launcher/WindowMessageSink.h"
#include "launcher/logic/UpdateRunControl.h"
#include "ui/MainSkin.h"

class TfrmMain : public TfrmMainSkin {
public:
  // Creates the window (hidden) and runs FormCreate.
  explicit TfrmMain(HINSTANCE instance = GetModuleHandleA(nullptr));
  // Destroys the window first, so FormDestroy runs while the object is whole.
  ~TfrmMain() override;

  // Set on the first RunTimer tick.
  bool Initialized = false;

  // The update run of UpdatePhase (0 client, 1 launcher).
  void StartUpdate();
  int UpdatePhase() const;
  bool UpdateRunning() const;

  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void RunTimerTimer() override;
  bool FormCloseQuery() override;
  void FormHide() override;
  void FormDestroy() override;

private:
  class TUpdateLook;

  void FormCreate();
  void CreateSteps();
  void FirstRunTimerTick();
  void Activate();
  // True when this copy goes on running here; false when it has handed over
  // to a copy in the game folder and the application is ending.
  bool InstallLocationCheck();

  // Seams of the parts that live beside the lifecycle; see uBGForm.cpp.
  void CreateDirectorySocket();
  void CreateGameList();
  void CreateEchoService();
  void CreateServerConfig();
  void CreateNewsBrowser();
  void CreateServerPopup();
  void GameWatchTick();
  void ReleaseGameList();
  void StopEchoService();
  void ReleaseServerConfig();
  void CloseDirectorySocket();

  std::shared_ptr<TWindowMessageSink> FSink;
  std::unique_ptr<TUpdateLook> FUpdateLook;
  std::unique_ptr<TUpdateRunControl> FUpdate;
  bool FDestroyed = false;
};
