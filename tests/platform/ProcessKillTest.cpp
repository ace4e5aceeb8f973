#include "platform/ProcessKill.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/UdpTestPeer.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "servers/DirectoryFrame.h"
#include "support/TestSupport.h"

TEST(ProcessKill, EndsEveryProcessWithTheImageName) {
  EXPECT_TRUE(SameImageName("KILLME.exe", "killme.EXE"));
  EXPECT_FALSE(SameImageName("killme.exe", "killme.ex"));
  EXPECT_FALSE(SameImageName("\xC4\xE3.exe", "\xE4\xE3.exe"));  // only A to Z fold
  // A copy of the directory service under a name of its own, serving on a
  // port of this test: it answers until it is ended.
  const std::string tool = ToolCommand("directory-service");
  ASSERT_FALSE(tool.empty()) << "directory-service not found beside the suite";
  const std::string toolPath = tool.substr(1, tool.size() - 2);
  const bool windows = toolPath.size() > 4 && toolPath.compare(toolPath.size() - 4, 4, ".exe") == 0;
  TTempFolder folder;
  const std::string image = "KillMe" + std::to_string(GetTickCount32() % 100000) + (windows ? ".exe" : "");
  ASSERT_TRUE(CopyFileAt(toolPath, folder / image));
  WriteWholeFile(folder / "servers.json", "{\"12\":\"alive\"}");
  const uint16_t port = static_cast<uint16_t>(TestPortBase() + 36);
  const std::string arguments = " --servers \"" + (folder / "servers.json") + "\" --bind 127.0.0.1 --port " + std::to_string(port);
  const std::string launch = windows ? "start \"\" /b \"" + (folder / image) + "\"" + arguments
                                     : "chmod +x '" + (folder / image) + "' && '" + (folder / image) + "'" + arguments +
                                           " >/dev/null 2>&1 &";
  ASSERT_EQ(std::system(launch.c_str()), 0);
  TUdpPeer peer;
  const auto answers = [&] {
    peer.SendTo(BuildServerListRequest(12, GetServerList), port);
    return !peer.Receive(300).empty();
  };
  ASSERT_TRUE(WaitUntil(answers, 60000));
  std::string upper = image;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  KillProcessesByName(upper);
  EXPECT_TRUE(WaitUntil([&] { return !answers(); }, 20000));
}
