#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "launcher/logic/GameLaunch.h"
#include "package/LauncherSettings.h"
#include "platform/File.h"
#include "net/UdpTestPeer.h"
#include "support/TestSupport.h"

namespace {

// The system side of the launch: what was started, and the clients' threads
// with the exit codes they read.
class TRecordedProcesses : public IGameProcesses {
public:
  TThreadHandle StartProcess(const std::string& path, const std::string& arguments) override {
    started.push_back({path, arguments});
    return failStart ? 0 : nextHandle++;
  }
  bool ThreadExitCode(TThreadHandle thread, uint32_t& exitCode) override {
    const auto found = exitCodes.find(thread);
    if (found == exitCodes.end()) return false;
    exitCode = found->second;
    return true;
  }
  void CloseThread(TThreadHandle thread) override { closed.push_back(thread); }

  struct TStart {
    std::string path, arguments;
  };
  std::vector<TStart> started;
  std::map<TThreadHandle, uint32_t> exitCodes;
  std::vector<TThreadHandle> closed;
  TThreadHandle nextHandle = 100;
  bool failStart = false;
};

TServerInfo Server(const std::string& ip, int32_t clienttype = 0) {
  TServerInfo server;
  server.id = 7;
  server.name = u"Dragon Gate \u4E00";
  server.ip = ip;
  server.port = 6001;
  server.authtype = 2;
  server.clienttype = clienttype;
  return server;
}

class GameLaunch : public ::testing::Test {
protected:
  GameLaunch() : games(processes) {
    settings.launcherFolder = folder.Path();
    settings.launcherFileName = "Quellan Launcher.exe";
    settings.registryPageUrl = "http://reg.example/";
    settings.clientPatchUrl = "http://cdn.example/patch";
    WriteWholeFile(folder / GameClientFile, "client");
  }
  TLaunchOutcome Launch(const TServerInfo& server, size_t index = 0) {
    return LaunchGame(server, settings, processes, [index](size_t) { return index; }, games);
  }

  TTempFolder folder;
  TLaunchSettings settings;
  TRecordedProcesses processes;
  TGameList games;
};

}  // namespace

TEST(GameArguments, ExactFormatWithSpacesAndEmptyFields) {
  TGameArguments a;
  a.id = 12;
  a.ip = "10.0.0.2";
  a.port = 7000;
  a.serverName = "Two Words";
  a.launcherName = "my launcher.exe";
  a.registryPageUrl = "http://r/?a=1";
  a.authtype = 3;
  a.clientPatchUrl = "http://cdn";
  EXPECT_EQ(FormatGameArguments(a),
            "/id:12 /ip:10.0.0.2 /slb:1 /port:7000 /servername:Two Words /lauName:my launcher.exe "
            "/web:http://r/?a=1 /at:3 /cdn:http://cdn/ /forget:");
  EXPECT_EQ(FormatGameArguments(TGameArguments()),
            "/id:0 /ip: /slb:1 /port:0 /servername: /lauName: /web: /at:0 /cdn:/ /forget:");
  EXPECT_EQ(ProcessCommandLine("C:\\g\\Client.bin", "/id:1"), "C:\\g\\Client.bin /id:1");
  EXPECT_EQ(ProcessCommandLine("C:\\g\\Client.bin", ""), "C:\\g\\Client.bin");
}

TEST(GameArguments, LoginAddressesSkipEmptyEntries) {
  using V = std::vector<std::string>;
  EXPECT_EQ(LoginAddresses("1.1.1.1|2.2.2.2|3.3.3.3"), (V{"1.1.1.1", "2.2.2.2", "3.3.3.3"}));
  EXPECT_EQ(LoginAddresses("1.1.1.1|"), (V{"1.1.1.1"}));
  EXPECT_EQ(LoginAddresses("|1.1.1.1||2.2.2.2"), (V{"1.1.1.1", "2.2.2.2"}));
  EXPECT_EQ(LoginAddresses(" 1.1.1.1 | 2.2.2.2 "), (V{"1.1.1.1", "2.2.2.2"}));
  EXPECT_TRUE(LoginAddresses("").empty());
  EXPECT_TRUE(LoginAddresses("|").empty());
  EXPECT_EQ(GameClientPath("C:\\g\\", 0), "C:\\g\\Client.bin");
  EXPECT_EQ(GameClientPath("C:\\g\\", -1), "C:\\g\\Client2.bin");
}

TEST_F(GameLaunch, StartsTheClientWithItsCommandLineAndRemembersTheServer) {
  TLogCapture log;
  const TLaunchOutcome outcome = Launch(Server("10.0.0.1|10.0.0.2|"), 1);
  EXPECT_EQ(outcome.result, TLaunchResult::Started);
  EXPECT_FALSE(outcome.closeWindow);
  EXPECT_TRUE(outcome.settingsError.empty());
  ASSERT_EQ(processes.started.size(), 1u);
  EXPECT_EQ(processes.started[0].path, folder / "Client.bin");
  EXPECT_EQ(processes.started[0].arguments,
            "/id:7 /ip:10.0.0.2 /slb:1 /port:6001 /servername:Dragon Gate \xD2\xBB /lauName:Quellan Launcher.exe "
            "/web:http://reg.example/ /at:2 /cdn:http://cdn.example/patch/ /forget:");
  EXPECT_TRUE(log.Contains("Start Game Name=Dragon Gate \xD2\xBB id=7 iplist=10.0.0.1|10.0.0.2|"));
  EXPECT_TRUE(log.Contains("random ip idx=1 count=2"));
  EXPECT_TRUE(log.Contains("SLB login ip = 10.0.0.2"));
  ASSERT_EQ(games.Entries().size(), 1u);
  EXPECT_EQ(games.Entries()[0].serverId, 7);
  EXPECT_EQ(games.Entries()[0].thread, 100);
  EXPECT_EQ(ReadLastServer(folder.Path()), 7);
  // Each press starts another client.
  settings.autoClose = true;
  EXPECT_TRUE(Launch(Server("10.0.0.1")).closeWindow);
  EXPECT_EQ(games.Entries().size(), 2u);
}

TEST_F(GameLaunch, CasesThatStartNothing) {
  TServerInfo none = Server("10.0.0.1");
  none.id = 0;
  EXPECT_EQ(Launch(none).result, TLaunchResult::NoServer);
  // clienttype 1 needs Client2.bin, which is missing: nothing is said.
  {
    TLogCapture log;
    EXPECT_EQ(Launch(Server("10.0.0.1", 1)).result, TLaunchResult::NoClient);
    EXPECT_TRUE(log.Lines().empty());
  }
  // No address to pick: nothing starts, and the log says why.
  for (const char* ip : {"", "|", " | "}) {
    TLogCapture log;
    EXPECT_EQ(Launch(Server(ip)).result, TLaunchResult::NoAddress) << ip;
    EXPECT_TRUE(log.Contains(std::string("Start Game id=7 not started: no login address in \"") + ip + "\""));
  }
  EXPECT_TRUE(processes.started.empty());
  // The process is not created: no entry, launcher.ini untouched, the window
  // stays even with _AutoClose.
  settings.autoClose = true;
  processes.failStart = true;
  const TLaunchOutcome failed = Launch(Server("10.0.0.1"));
  EXPECT_EQ(failed.result, TLaunchResult::StartFailed);
  EXPECT_FALSE(failed.closeWindow);
  EXPECT_EQ(processes.started.size(), 1u);
  EXPECT_TRUE(games.Empty());
  EXPECT_FALSE(FileExists(folder / "launcher.ini"));
}

TEST_F(GameLaunch, FailingSettingsWriteLeavesTheClientRunning) {
  ASSERT_TRUE(ForceDirectories(folder / "launcher.ini"));  // a folder: the write fails
  const TLaunchOutcome outcome = Launch(Server("10.0.0.1"));
  EXPECT_EQ(outcome.result, TLaunchResult::Started);
  EXPECT_EQ(outcome.settingsError, "Unable to write to " + (folder / "launcher.ini"));
  EXPECT_EQ(games.Entries().size(), 1u);
}

TEST_F(GameLaunch, RandomPickSpreadsEvenlyOverTheAddresses) {
  const TRandomIndex random = ProcessRandomIndex();
  std::map<std::string, int> counts;
  const int draws = 1500;
  for (int i = 0; i < draws; ++i) {
    ASSERT_EQ(LaunchGame(Server("1.1.1.1|2.2.2.2|3.3.3.3"), settings, processes, random, games).result,
              TLaunchResult::Started);
    const std::string& arguments = processes.started.back().arguments;
    const size_t at = arguments.find("/ip:") + 4;
    ++counts[arguments.substr(at, arguments.find(' ', at) - at)];
  }
  ASSERT_EQ(counts.size(), 3u);
  // Each address a third of the time; 100 is over five standard deviations.
  for (const auto& [ip, count] : counts) EXPECT_NEAR(count, draws / 3, 100) << ip;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(random(1), 0u);
}

TEST_F(GameLaunch, WatchRemovesOneEndedClientPerTick) {
  games.Add(1, 11);  // running
  games.Add(2, 12);  // ended with 0
  games.Add(3, 0);   // no handle: skipped
  games.Add(4, 14);  // crashed with exit code 1
  games.Add(5, 15);  // exit code cannot be read
  processes.exitCodes = {{11, ThreadStillActive}, {12, 0}, {14, 1}};
  EXPECT_TRUE(games.WatchOnce());
  EXPECT_EQ(processes.closed, (std::vector<TThreadHandle>{15}));
  EXPECT_TRUE(games.WatchOnce());
  EXPECT_TRUE(games.WatchOnce());
  EXPECT_EQ(processes.closed, (std::vector<TThreadHandle>{15, 14, 12}));
  EXPECT_FALSE(games.WatchOnce());
  ASSERT_EQ(games.Entries().size(), 2u);
  EXPECT_EQ(games.Entries()[0].serverId, 1);
  EXPECT_EQ(games.Entries()[1].serverId, 3);
  processes.exitCodes[11] = 0;
  EXPECT_TRUE(games.WatchOnce());
  EXPECT_FALSE(games.WatchOnce());  // the handle-less entry stays
}

TEST(GameWatch, GameListClosesTheHandlesItStillHolds) {
  TRecordedProcesses processes;
  {
    TGameList games(processes);
    games.Add(1, 21);
    games.Add(2, 0);
    games.Add(3, 23);
  }
  EXPECT_EQ(processes.closed, (std::vector<TThreadHandle>{21, 23}));
}

namespace {

// The stand-in game client of the suite, unquoted; empty when not built.
std::string TestClientPath() {
  const std::string tool = ToolCommand("test-game-client");
  return tool.size() > 2 ? tool.substr(1, tool.size() - 2) : std::string();
}

bool IsWindowsTool(const std::string& path) { return path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0; }

// The stand-in game client copied to `target`.
bool CopyTestClient(const std::string& target) {
  const std::string tool = TestClientPath();
  if (tool.empty() || !CopyFileAt(tool, target)) return false;
  return IsWindowsTool(tool) || std::system(("chmod +x '" + target + "'").c_str()) == 0;
}

// A folder inside a temporary one.
struct TSubFolder {
  std::string path;
  const std::string& Path() const { return path; }
  std::string operator/(const std::string& name) const { return path + name; }
};

}  // namespace

TEST(GameLaunchProcess, RealClientGetsTheCommandLineAndIsWatchedUntilItEnds) {
  // A launcher folder with a blank in its name, and beside it another
  // program named like the part before the blank: the unquoted command line
  // must still start the client.
  TTempFolder root;
  const TSubFolder folder{root / "Game Folder/"};
  ASSERT_TRUE(ForceDirectories(folder.Path()));
  ASSERT_TRUE(CopyTestClient(folder / GameClientFile)) << "test-game-client not found beside the suite";
  const std::string other = ToolCommand("echo-probe");
  ASSERT_FALSE(other.empty());
  ASSERT_TRUE(CopyFileAt(other.substr(1, other.size() - 2), root / (IsWindowsTool(TestClientPath()) ? "Game.exe" : "Game")));
  WriteWholeFile(folder / "game-client.hold", "");
  TLaunchSettings settings;
  settings.launcherFolder = folder.Path();
  settings.launcherFileName = "launcher.exe";
  settings.clientPatchUrl = "http://cdn";
  settings.forgetUrl = "http://forget/";
  TSystemGameProcesses processes;
  TGameList games(processes);
  TServerInfo server = Server("127.0.0.1|");
  server.name = u"Two Words";
  const TLaunchOutcome outcome = LaunchGame(server, settings, processes, ProcessRandomIndex(), games);
  ASSERT_EQ(outcome.result, TLaunchResult::Started);
  // The report is complete once its second line has arrived.
  const auto reported = [&] {
    try {
      const std::string text = FileExists(folder / "game-client.txt") ? ReadWholeFile(folder / "game-client.txt") : "";
      return text.find("\nfolder=") != std::string::npos && text.back() == '\n';
    } catch (const std::exception&) {
      return false;  // still being written
    }
  };
  ASSERT_TRUE(WaitUntil(reported, 20000));
  const std::string report = ReadWholeFile(folder / "game-client.txt");
  // The client's own words: its path (which its runtime may split at the
  // blank), then the arguments.
  EXPECT_NE(report.find(" /id:7 /ip:127.0.0.1 /slb:1 /port:6001 /servername:Two Words /lauName:launcher.exe "
                        "/web: /at:2 /cdn:http://cdn/ /forget:http://forget/\n"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("commandline="), 0u) << report;
  // The client runs in the launcher folder.
  const size_t at = report.find("folder=") + 7;
  std::string clientFolder = report.substr(at, report.find('\n', at) - at);
  for (char& c : clientFolder)
    if (c == '\\') c = '/';
  std::string expected = folder.Path();
  for (char& c : expected)
    if (c == '\\') c = '/';
  EXPECT_NE(expected.find(clientFolder), std::string::npos) << clientFolder << " in " << expected;
  // While it runs the watch keeps it; once it has ended the watch removes it.
  EXPECT_FALSE(games.WatchOnce());
  ASSERT_TRUE(DeleteFileAt(folder / "game-client.hold"));
  EXPECT_TRUE(WaitUntil([&] { return games.WatchOnce(); }, 10000));
  EXPECT_TRUE(games.Empty());
}
