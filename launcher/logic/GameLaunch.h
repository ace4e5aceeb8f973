// Starting the game client for the chosen server and watching the started
// clients: the client file by clienttype, the random login address, the
// client's command line, GameList and the game watch on the later RunTimer
// ticks. Portable; the process calls come in through IGameProcesses.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "servers/uConfig.h"

constexpr const char* GameClientFile = "Client.bin";
constexpr const char* GameClientFile2 = "Client2.bin";
// "#102 客户端启动失败, 请重新安装！" and its caption "错误".
constexpr const char* GameStartFailedText =
    "#102 \xBF\xCD\xBB\xA7\xB6\xCB\xC6\xF4\xB6\xAF\xCA\xA7\xB0\xDC, \xC7\xEB\xD6\xD8\xD0\xC2\xB0\xB2\xD7\xB0\xA3\xA1";
constexpr const char* GameStartFailedCaption = "\xB4\xED\xCE\xF3";
// Exit code of a thread that still runs (STILL_ACTIVE).
constexpr uint32_t ThreadStillActive = StillActiveExitCode;

// Launcher folder + "Client.bin", or + "Client2.bin" when clienttype is not 0.
std::string GameClientPath(const std::string& launcherFolder, int32_t clienttype);

// The addresses of a record's "|" list (the delimited-text rule), without
// empty entries: an empty entry is no address to log in at.
std::vector<std::string> LoginAddresses(const std::string& ipList);

struct TGameArguments {
  int32_t id = 0;
  std::string ip;
  int32_t port = 0;
  std::string serverName;  // code page 936
  std::string launcherName;
  std::string registryPageUrl;
  int32_t authtype = 0;
  std::string clientPatchUrl;
  std::string forgetUrl;
};
// "/id:%d /ip:%s /slb:1 /port:%d /servername:%s /lauName:%s /web:%s /at:%d
// /cdn:%s/ /forget:%s"; nothing is quoted or escaped.
std::string FormatGameArguments(const TGameArguments& arguments);

// Handles of started clients' primary threads, as the system gives them;
// 0 or negative is no handle.
using TThreadHandle = intptr_t;

// The system side of launching and watching.
class IGameProcesses {
public:
  virtual ~IGameProcesses() = default;
  // StartProcess: the primary thread's handle, or 0.
  virtual TThreadHandle StartProcess(const std::string& path, const std::string& arguments) = 0;
  // False when the exit code cannot be read.
  virtual bool ThreadExitCode(TThreadHandle thread, uint32_t& exitCode) = 0;
  virtual void CloseThread(TThreadHandle thread) = 0;
};

// The system's processes: each started client is owned here, by the handle
// value of its primary thread, until the watch closes it.
class TSystemGameProcesses : public IGameProcesses {
public:
  TThreadHandle StartProcess(const std::string& path, const std::string& arguments) override;
  bool ThreadExitCode(TThreadHandle thread, uint32_t& exitCode) override;
  void CloseThread(TThreadHandle thread) override;

private:
  std::map<TThreadHandle, TStartedProcess> FStarted;
};

// What the launch takes from the launcher configuration and the program file.
struct TLaunchSettings {
  std::string launcherFolder;    // with its trailing separator; holds the clients and launcher.ini
  std::string launcherFileName;  // the program's file name with its extension
  std::string registryPageUrl;
  std::string clientPatchUrl;
  std::string forgetUrl;
  bool autoClose = false;
};
// The settings of this process: LauncherConfig and the running program file.
TLaunchSettings LauncherLaunchSettings();

// An index from 0 to count - 1 (count > 0), drawn uniformly.
using TRandomIndex = std::function<size_t(size_t count)>;
// The process's generator, seeded from the clock when first used.
TRandomIndex ProcessRandomIndex();

struct TGameEntry {
  int32_t serverId = 0;
  TThreadHandle thread = 0;
};

// GameList: one entry per started client, the newest last.
class TGameList {
public:
  explicit TGameList(IGameProcesses& processes) : FProcesses(processes) {}
  ~TGameList();
  TGameList(const TGameList&) = delete;
  TGameList& operator=(const TGameList&) = delete;

  void Add(int32_t serverId, TThreadHandle thread) { FEntries.push_back({serverId, thread}); }
  // One tick of the game watch: from the newest entry back, the first whose
  // client has ended (its exit code cannot be read or is no longer
  // STILL_ACTIVE) is removed and its handle closed. True when one was removed.
  bool WatchOnce();
  bool Empty() const { return FEntries.empty(); }
  const std::vector<TGameEntry>& Entries() const { return FEntries; }

private:
  IGameProcesses& FProcesses;
  std::vector<TGameEntry> FEntries;
};

// What the window does after a watch tick.
struct TWatchDecision {
  bool enableStart = false;  // a server is chosen
  bool closeWindow = false;  // no client left and the window hidden
  bool stopTimer = false;    // no client left, window shown
};
TWatchDecision GameWatchDecision(bool gameListEmpty, bool windowHidden, int32_t currentServerId);

enum class TLaunchResult {
  Started,
  NoServer,     // CurrentServer.id is 0: the start button does nothing
  NoClient,     // the client file is missing: nothing shown
  NoAddress,    // the ip list holds no address: nothing started, logged
  StartFailed,  // the process was not created: the window shows the "#102" box
};

struct TLaunchOutcome {
  TLaunchResult result = TLaunchResult::NoServer;
  bool closeWindow = false;   // _AutoClose: the window closes once the click handler returns
  std::string settingsError;  // "lastserver" could not be written (the client runs)
};

// The game launch for `server` (LGStartClick): on success the client is in
// `games` and "lastserver" is written to launcher.ini.
TLaunchOutcome LaunchGame(const TServerInfo& server, const TLaunchSettings& settings, IGameProcesses& processes,
                          const TRandomIndex& randomIndex, TGameList& games);
