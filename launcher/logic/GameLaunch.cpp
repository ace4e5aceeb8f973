#include "launcher/logic/GameLaunch.h"

#include <chrono>
#include <mutex>
#include <random>

#include "common/DelimitedText.h"
#include "common/Format.h"
#include "common/Log.h"
#include "common/PathUtils.h"
#include "package/LauncherConfig.h"
#include "package/LauncherSettings.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "platform/Profile.h"

std::string GameClientPath(const std::string& launcherFolder, int32_t clienttype) {
  return launcherFolder + (clienttype != 0 ? GameClientFile2 : GameClientFile);
}

std::vector<std::string> LoginAddresses(const std::string& ipList) {
  std::vector<std::string> addresses;
  for (std::string& field : SplitDelimited(ipList, '|'))
    if (!field.empty()) addresses.push_back(std::move(field));
  return addresses;
}

std::string FormatGameArguments(const TGameArguments& a) {
  return Format("/id:%d /ip:%s /slb:1 /port:%d /servername:%s /lauName:%s /web:%s /at:%d /cdn:%s/ /forget:%s", a.id,
                a.ip.c_str(), a.port, a.serverName.c_str(), a.launcherName.c_str(), a.registryPageUrl.c_str(),
                a.authtype, a.clientPatchUrl.c_str(), a.forgetUrl.c_str());
}

TThreadHandle TSystemGameProcesses::StartProcess(const std::string& path, const std::string& arguments) {
  TStartedProcess started = ::StartProcess(path, arguments);
  if (!started) return 0;
  const auto thread = static_cast<TThreadHandle>(started.ThreadHandle());
  FStarted[thread] = std::move(started);
  return thread;
}

bool TSystemGameProcesses::ThreadExitCode(TThreadHandle thread, uint32_t& exitCode) {
  const auto found = FStarted.find(thread);
  return found != FStarted.end() && found->second.ThreadExitCode(exitCode);
}

void TSystemGameProcesses::CloseThread(TThreadHandle thread) { FStarted.erase(thread); }

TLaunchSettings LauncherLaunchSettings() {
  TLaunchSettings settings;
  const std::string program = GetModuleFilePath();
  settings.launcherFolder = ExtractFilePath(program);
  settings.launcherFileName = ExtractFileName(program);
  settings.registryPageUrl = LauncherConfig._RegistryPageUrl;
  settings.clientPatchUrl = FirstBaseAddress(LauncherConfig._ClientPatchUrl);
  settings.forgetUrl = LauncherConfig._ForgetUrl;
  settings.autoClose = IsSwitchOn(LauncherConfig._AutoClose);
  return settings;
}

TRandomIndex ProcessRandomIndex() {
  return [](size_t count) -> size_t {
    static std::mutex lock;
    static std::mt19937 generator(static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    std::lock_guard<std::mutex> guard(lock);
    return std::uniform_int_distribution<size_t>(0, count - 1)(generator);
  };
}

// ---- GameList and the game watch ------------------------------------------

TGameList::~TGameList() {
  for (const TGameEntry& entry : FEntries)
    if (entry.thread > 0) FProcesses.CloseThread(entry.thread);
}

bool TGameList::WatchOnce() {
  for (size_t i = FEntries.size(); i-- > 0;) {
    const TThreadHandle thread = FEntries[i].thread;
    if (thread <= 0) continue;
    uint32_t exitCode = 0;
    // A client that ended with any code is gone; only a running thread
    // reads STILL_ACTIVE.
    if (FProcesses.ThreadExitCode(thread, exitCode) && exitCode == ThreadStillActive) continue;
    FProcesses.CloseThread(thread);
    FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

TWatchDecision GameWatchDecision(bool gameListEmpty, bool windowHidden, int32_t currentServerId) {
  TWatchDecision decision;
  decision.enableStart = currentServerId > 0;
  decision.closeWindow = gameListEmpty && windowHidden;
  decision.stopTimer = gameListEmpty && !windowHidden;
  return decision;
}

// ---- The launch -------------------------------------------------------------

namespace {

TGameArguments ArgumentsFor(const TServerInfo& server, const std::string& ip, const TLaunchSettings& settings) {
  TGameArguments arguments;
  arguments.id = server.id;
  arguments.ip = ip;
  arguments.port = server.port;
  arguments.serverName = Utf16ToCp936(server.name);
  arguments.launcherName = settings.launcherFileName;
  arguments.registryPageUrl = settings.registryPageUrl;
  arguments.authtype = server.authtype;
  arguments.clientPatchUrl = settings.clientPatchUrl;
  arguments.forgetUrl = settings.forgetUrl;
  return arguments;
}

}  // namespace

TLaunchOutcome LaunchGame(const TServerInfo& server, const TLaunchSettings& settings, IGameProcesses& processes,
                          const TRandomIndex& randomIndex, TGameList& games) {
  TLaunchOutcome outcome;
  if (server.id == 0) return outcome;
  const std::string clientPath = GameClientPath(settings.launcherFolder, server.clienttype);
  outcome.result = TLaunchResult::NoClient;
  if (!FileExists(clientPath)) return outcome;
  const std::string name = Utf16ToCp936(server.name);
  LogError(Format("Start Game Name=%s id=%d iplist=%s", name.c_str(), server.id, server.ip.c_str()));

  const std::vector<std::string> addresses = LoginAddresses(server.ip);
  if (addresses.empty()) {
    // Nothing to log in at: no client is started and the window stays usable.
    LogError(Format("Start Game id=%d not started: no login address in \"%s\"", server.id, server.ip.c_str()));
    outcome.result = TLaunchResult::NoAddress;
    return outcome;
  }
  const size_t index = randomIndex(addresses.size());
  LogError(Format("random ip idx=%d count=%d", static_cast<int>(index), static_cast<int>(addresses.size())));
  const std::string& ip = addresses[index];
  LogError(Format("SLB login ip = %s", ip.c_str()));

  const TThreadHandle thread = processes.StartProcess(clientPath, FormatGameArguments(ArgumentsFor(server, ip, settings)));
  if (thread <= 0) {
    outcome.result = TLaunchResult::StartFailed;
    return outcome;
  }
  outcome.result = TLaunchResult::Started;
  outcome.closeWindow = settings.autoClose;
  games.Add(server.id, thread);
  try {
    WriteLastServer(settings.launcherFolder, server.id);
  } catch (const EIniFileError& e) {
    outcome.settingsError = e.what();
  }
  return outcome;
}
