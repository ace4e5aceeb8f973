#include "platform/ProcessKill.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/UdpTestPeer.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "servers/DirectoryFrame.h"
#include "support/TestSupport.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

// A copy of the directory service under `image` in a folder of its own,
// serving on `port` until it is ended.
class TKillable {
public:
  TKillable(const std::string& image, uint16_t port) : FPort(port) {
    const std::string tool = ToolCommand("directory-service");
    if (tool.empty()) return;
    const std::string toolPath = tool.substr(1, tool.size() - 2);
    const bool windows = toolPath.size() > 4 && toolPath.compare(toolPath.size() - 4, 4, ".exe") == 0;
    FPath = FFolder / image;
    if (!CopyFileAt(toolPath, FPath)) return;
    WriteWholeFile(FFolder / "servers.json", "{\"12\":\"alive\"}");
    const std::string arguments =
        " --servers \"" + (FFolder / "servers.json") + "\" --bind 127.0.0.1 --port " + std::to_string(port);
    const std::string launch = windows ? "start \"\" /b \"" + FPath + "\"" + arguments
                                       : "chmod +x '" + FPath + "' && '" + FPath + "'" + arguments + " >/dev/null 2>&1 &";
    FStarted = std::system(launch.c_str()) == 0;
  }
  bool Started() const { return FStarted; }
  const std::string& Path() const { return FPath; }
  bool Answers() {
    FPeer.SendTo(BuildServerListRequest(12, GetServerList), FPort);
    return !FPeer.Receive(300).empty();
  }

private:
  TTempFolder FFolder;
  uint16_t FPort;
  std::string FPath;
  bool FStarted = false;
  TUdpPeer FPeer;
};

}  // namespace

// By image name every copy ends; by program file only the copies started
// from that file (its path in any letter case), not a namesake elsewhere.
TEST(ProcessKill, EndsByImageNameOrOnlyTheCopiesOfOneProgramFile) {
  EXPECT_TRUE(SameImageName("KILLME.exe", "killme.EXE"));
  EXPECT_FALSE(SameImageName("killme.exe", "killme.ex"));
  EXPECT_FALSE(SameImageName("\xC4\xE3.exe", "\xE4\xE3.exe"));  // only A to Z fold
  ASSERT_FALSE(ToolCommand("directory-service").empty()) << "directory-service not found beside the suite";
  const bool windows = ToolCommand("directory-service").find(".exe") != std::string::npos;
  const std::string image = "KillMe" + std::to_string(GetTickCount32() % 100000) + (windows ? ".exe" : "");
  TKillable first(image, static_cast<uint16_t>(TestPortBase() + 36));
  TKillable namesake(image, static_cast<uint16_t>(TestPortBase() + 38));
  ASSERT_TRUE(first.Started() && namesake.Started());
  ASSERT_TRUE(WaitUntil([&] { return first.Answers() && namesake.Answers(); }, 60000));

  KillProcessesOfProgram(Upper(first.Path()));
  EXPECT_TRUE(WaitUntil([&] { return !first.Answers(); }, 20000));
  EXPECT_TRUE(namesake.Answers()) << "a process of the same name elsewhere was ended";

  KillProcessesByName(Upper(image));
  EXPECT_TRUE(WaitUntil([&] { return !namesake.Answers(); }, 20000));
}
