// Unit uBGForm: the launcher's main window TfrmMain. Its skin, controls and
// window procedure come from TfrmMainSkin; this class adds the lifecycle: the
// creation steps, the deferred set-up on the first RunTimer tick, the
// activation by a second instance, hiding, closing and releasing, and the
// control of the update runs; the directory exchange, the server picker, the
// game launch and the install-location check join it here.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/WindowMessageSink.h"
#include "launcher/logic/GameLaunch.h"
#include "launcher/logic/UpdateRunControl.h"
#include "servers/DirectoryExchange.h"
#include "servers/ServerSelection.h"
#include "ui/MainSkin.h"
#include "ui/ServerList.h"
#include "ui/WebPage.h"

class TUDPClientSocket;
class TUDPEchoServer;

// Posted by the directory socket's worker when a datagram waits in the
// window's queue; the window takes the queued datagrams on its own thread.
constexpr UINT UM_DIRECTORY_DATA = 0x470;
// Posted by a second start with "/repair" to the running launcher: a repair
// as if the player had chosen it from the window's system menu.
constexpr UINT UM_REPAIR = 0x471;
// The system menu's entry "校验并修复游戏文件" (a multiple of 16 below
// 0xF000: the system keeps the low four bits of WM_SYSCOMMAND to itself).
constexpr UINT RepairMenuCommand = 0x0E10;

// Where the window finds its surroundings. The launcher takes the defaults;
// tests aim the window at their own folder and directory service.
struct TMainWindowPlaces {
  // Holds launcher.ini, "showtest.txt" and the game clients; empty: the
  // running program's folder.
  std::string launcherFolder;
  // The directory service's port, and the addresses tried before the fixed
  // one; `resolveDirectoryHost` resolves the build's host name instead.
  uint16_t directoryPort = DirectoryPort;
  bool resolveDirectoryHost = true;
  std::vector<std::string> directoryAddresses;
  std::string directoryFixedAddress = DirectoryFixedAddress();
  // The install-location check runs on the first RunTimer tick for this
  // program file (empty: the running program); a cancelled dialog ends every
  // process started from that program file when `killOnInstallCancel` is set.
  bool runInstallCheck = true;
  std::string programPath;
  bool killOnInstallCancel = true;
};

class TfrmMain : public TfrmMainSkin {
public:
  // Creates the window (hidden) and runs FormCreate.
  explicit TfrmMain(HINSTANCE instance = GetModuleHandleA(nullptr));
  TfrmMain(const TMainWindowPlaces& places, HINSTANCE instance = GetModuleHandleA(nullptr));
  // Destroys the window first, so FormDestroy runs while the object is whole.
  ~TfrmMain() override;

  // Set on the first RunTimer tick.
  bool Initialized = false;

  // The update run of UpdatePhase (0 client, 1 launcher).
  void StartUpdate();
  int UpdatePhase() const;
  bool UpdateRunning() const;
  // A repair of the game files: now when the runs have ended, otherwise once
  // they have.
  void RequestRepair();

  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void RunTimerTimer() override;
  bool FormCloseQuery() override;
  void FormHide() override;
  void FormDestroy() override;

  // The directory exchange and the server picker.
  void RefreshServerList() override;
  void Timer1Timer() override;
  void LGLabel1Click() override;
  void UpdateSkipped() override;
  void btnSelServerClick() override;
  void btnSelMemClick() override;
  void lbLstSelSrvClick() override;
  // The game launch.
  void LGStartClick() override;

  // What the window holds, for its tests; null before the creation step
  // that makes it (or when an earlier step failed).
  TDirectoryExchange* DirectoryExchange() { return FExchange.get(); }
  TServerConfig* ServerConfig() { return FServerConfig.get(); }
  TUDPEchoServer* EchoService() { return FEcho.get(); }
  TUDPClientSocket* DirectorySocket() { return FDirectorySocket.get(); }
  TfrmServerList* ServerPopup() { return FServerPopup.get(); }
  const TGameList* GameList() const { return FGameList.get(); }
  TNewsBrowser* NewsBrowser() { return FNews.get(); }
  // CurrentServer (zero-filled until a choice) and MemberText.
  const TServerInfo& CurrentServer() const;
  std::string MemberText() const;
  const std::string& LauncherFolder() const { return FLauncherFolder; }

protected:
  // The install-folder dialog (TForm1): true with the folder the player
  // gave; tests answer it themselves.
  virtual bool AskInstallFolder(std::string& folder);

private:
  class TUpdateLook;
  class TServerView;

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

  // Shows the news browser when the current look shows it (the login look).
  // The repair entry of the system menu (uBGFormRepair.cpp).
  void AddRepairEntry();
  void EnableRepairEntry(bool enabled);
  bool HandleRepairMessage(UINT message, WPARAM wParam);
  void SyncNewsBrowser();
  void TakeDirectoryData();
  void ShowPopup(TPopupMode mode, TLGLabel& below);
  void PopupClosed(std::optional<int> committed);

  TMainWindowPlaces FPlaces;
  std::string FLauncherFolder;
  std::shared_ptr<TWindowMessageSink> FSink;
  // Set while a UM_DIRECTORY_DATA is on its way, so a burst of datagrams
  // posts one wake-up.
  std::atomic<bool> FWakePosted{false};
  std::unique_ptr<TDatagramQueue> FDatagrams;
  std::unique_ptr<TUDPClientSocket> FDirectorySocket;
  TSystemTicks FTicks;
  std::unique_ptr<TServerView> FServerView;
  std::unique_ptr<TServerSelection> FSelection;
  std::unique_ptr<TUDPEchoServer> FEcho;
  std::unique_ptr<TServerConfig> FServerConfig;
  std::unique_ptr<TDirectoryExchange> FExchange;
  std::unique_ptr<TNewsBrowser> FNews;
  std::unique_ptr<TfrmServerList> FServerPopup;
  // The picker images the pop-up was made with.
  std::optional<TServerListImages> FPopupImages;
  TSystemGameProcesses FProcesses;
  std::unique_ptr<TGameList> FGameList;
  std::unique_ptr<TUpdateLook> FUpdateLook;
  std::unique_ptr<TUpdateRunControl> FUpdate;
  bool FDestroyed = false;
};
